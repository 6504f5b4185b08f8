// The repair steps of file and folder names. They never reject a name: each
// repair is made in place and announced in the log with a notice of three
// lines (whatever FlagDisplayLog says), and the result is 1. 0 only on an
// unexpected error (out of memory), which the chains end on silently.
#ifndef TARVEL_RULES_REPAIRS_H_
#define TARVEL_RULES_REPAIRS_H_

#include <string>

#include "app/app_state.h"

namespace tarvel {

// The name a file gets when too little of its own name is left.
inline constexpr char16_t kUnknownFileName[] = u"UnknownFileName.mp3";

// Blanks the characters a CD-R cannot hold (\ / : , ; * ? " < > | and the
// control characters U+0000 to U+001F and U+007F), each with its own notice. A file name of four
// characters or fewer becomes "UnknownFileName.mp3" instead (it cannot hold ".mp3" and a base
// name).
int ReplaceInvalidChars(std::u16string& name, AppState& app);

// The same blanking for a folder name, which has no extension and so no
// shortest length: short names pass unchanged.
int ReplaceInvalidCharsInFolderName(std::u16string& name, AppState& app);

// Makes the file name end in exactly one ".mp3" (compared ignoring case,
// width and kana type): a full stop before the extension becomes a space, text
// after a leading ".mp3" is dropped, and a name whose full stop has fewer than
// three characters behind it becomes "UnknownFileName.mp3". A name without a
// full stop is left without an extension.
int CheckExtension(std::u16string& name, AppState& app);

// With the name ending in ".mp3", cuts the part before it to LengthName
// characters (a negative LengthName counts as 0) and writes the extension in
// lower case; a name without the extension becomes "UnknownFileName.mp3".
int LimitFileNameLength(std::u16string& name, AppState& app);

// Cuts a whole folder name to LengthName characters, with its own notice.
int LimitFolderNameLength(std::u16string& name, AppState& app);

// The first `length` code units of `text`, one fewer when the cut would split
// a surrogate pair (half a character would be written to disk as U+FFFD).
size_t CutPosition(std::u16string_view text, size_t length);

}  // namespace tarvel

#endif  // TARVEL_RULES_REPAIRS_H_
