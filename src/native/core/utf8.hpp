// UTF-8 as the format stores text: well-formed by RFC 3629 (no overlong forms, no
// surrogates, nothing beyond U+10FFFF), which is what Python's strict decoder accepts.
#pragma once

#include <cstddef>

namespace ozra::core {

bool is_valid_utf8(const char* text, std::size_t size) noexcept;

}  // namespace ozra::core
