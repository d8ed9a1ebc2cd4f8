// A small XML well-formedness check for the runner's SVG files: elements
// nest and close, attributes are quoted and not repeated, references are the
// predefined entities or character references, and there is one root.
#pragma once

#include <string>
#include <string_view>

// Empty when `xml` is well formed, else what is wrong and where.
std::string xmlProblem(std::string_view xml);
