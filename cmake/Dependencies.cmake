# Platform libraries, all from the distribution's packages (found with pkg-config).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

function(vostrel_pkg alias module)
  pkg_check_modules(${alias}_PC REQUIRED IMPORTED_TARGET ${module})
  add_library(vostrel_deps_${alias} INTERFACE)
  target_link_libraries(vostrel_deps_${alias} INTERFACE PkgConfig::${alias}_PC)
  # Keep third-party warnings out of our builds.
  get_target_property(_inc PkgConfig::${alias}_PC INTERFACE_INCLUDE_DIRECTORIES)
  if(_inc)
    target_include_directories(vostrel_deps_${alias} SYSTEM INTERFACE ${_inc})
  endif()
  add_library(vostrel_deps::${alias} ALIAS vostrel_deps_${alias})
endfunction()

vostrel_pkg(curl libcurl)
vostrel_pkg(re2 re2)
vostrel_pkg(pcre2 libpcre2-8)
vostrel_pkg(yaml yaml-0.1)
