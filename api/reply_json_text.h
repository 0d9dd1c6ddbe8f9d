// The reply JSON text: a reply body parsed and written out again as indented JSON in
// the one layout the status translation and the record reading rely on (CR LF line
// ends, four blanks per level, numbers as the body wrote them, members in order and
// duplicates kept, only \b \t \n \f \r \" \/ \\ escaped).
#pragma once

#include <string>
#include <string_view>

namespace zendrel {

// The reply JSON text of `body` (UTF-8 bytes; anything is accepted). Empty when the
// body is empty, not exactly one JSON value (blanks around it allowed, one leading
// byte-order mark skipped), or nested deeper than the reader's limit.
std::string ReplyJsonText(std::string_view body);

}  // namespace zendrel
