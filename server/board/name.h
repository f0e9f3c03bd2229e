// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The name a player is shown under, as sent with a replay: checked before anything is
// stored, and escaped wherever it is shown.
#include <string>

constexpr size_t kMaxNameBytes = 64;
constexpr size_t kMaxNameCharacters = 24;

// Empty when `name` may stand on the board: 1 to kMaxNameCharacters characters of
// valid UTF-8 (shortest forms, no surrogates), at most kMaxNameBytes bytes, no control
// characters, not only spaces. Otherwise why not, in a short sentence.
std::string NameProblem(const std::string& name);

// `text` for HTML: & < > " ' as character references.
std::string EscapeHtml(const std::string& text);
