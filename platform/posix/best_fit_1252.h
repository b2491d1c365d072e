#pragma once
// The Windows-1252 conversion's replacement for a character the code page lacks: a similar
// character's byte where the system's conversion defines one, else '?'.

namespace platform {

char best_fit_1252(char16_t c);

}  // namespace platform
