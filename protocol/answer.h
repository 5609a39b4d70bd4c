// The marks of the board's answer texts: what the loader looks for in an answer and the board simulator
// puts into one, so that both sides read them from one place.
//
// An answer holding either negative mark anywhere is a refusal: '?' when the board can't make out what
// was meant (the form is wrong), '!' when it understood and refuses (bad digits, a range beyond the
// memory, a block whose CRC or encoding doesn't hold). A write and a block are accepted with '*', the S8
// record that ends a download with "%*", and a read's answer begins with '=' before its pairs.
#pragma once

#include <string_view>

namespace vx::answers {

inline constexpr char kRefused = '!';
inline constexpr char kNotUnderstood = '?';
inline constexpr char kNegativeMarks[] = {kRefused, kNotUnderstood, '\0'};  // for strpbrk, find_first_of
inline constexpr char kAccepted = '*';
inline constexpr std::string_view kAcceptedText{&kAccepted, 1};
inline constexpr char kRecordsEnded[] = "%*";
inline constexpr char kData = '=';

}  // namespace vx::answers
