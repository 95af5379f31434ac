// The strict form of a JSON schema that structured output is sent with: every
// object schema forbids extra keys and requires all its properties, references
// with sibling keys are inlined, a single-member "allOf" is merged into its
// node and null defaults are dropped.
#ifndef VOSTREL_JSONSCHEMA_STRICT_H_
#define VOSTREL_JSONSCHEMA_STRICT_H_

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::jsonschema {

// Rewrites `schema` in place into its strict form. References ("#/..."
// pointers) are resolved against a copy of `schema` taken before the rewrite.
//
// Fails with a Session error when a node to rewrite is not an object, a
// reference is malformed or does not resolve, a reference would be inlined
// into itself without end (a definition that contains itself with sibling
// keys), inlining would nest a node deeper than the JSON reader's depth limit
// (kJsonMaxDepth levels, the root object being the first), or the inlined
// copies would add up to more than a million JSON values. The first error
// ends the rewrite and leaves `schema` partly rewritten: callers rewrite a
// copy of their own and discard it on failure.
// Pure apart from `schema`; safe on any thread for distinct schemas.
Status ensure_strict(JsonValue& schema);

}  // namespace vostrel::jsonschema

#endif  // VOSTREL_JSONSCHEMA_STRICT_H_
