// The text rendering of an object stream, converted in both directions by format
// alone: no class is looked up, so any well-formed stream converts. Text object
// files are read through ObjectTextToBinary; tools show streams with
// ObjectBinaryToText. Pure functions, safe from any thread.
//
// The text is Windows-1252, one item per line, two blanks of indent per level:
//
//   object Name: ClassName             ("inherited", "inline" or both for the
//     Count = 12                        prefix flags, " [n]" for a child position,
//     Caption = 'It''s'#13#10'ok'       no "Name: " for an empty object name)
//     Items.Strings = (
//       'a'
//       'b')
//     Options = [faFixed, faLink]
//     Data = {
//       0A0B}
//     Columns = <
//       item [3]
//         Width = 5
//       end>
//     object Child: TChild
//     end
//   end
//
// Values: integers in decimal, written back in the smallest of Int8/16/32, or
// Int64 beyond 32 bits. Extended in shortest decimal ("1.5", "2.0E+20"); Single,
// Date and Currency with the suffixes S, D and C (currency with up to four
// decimals, exact). A float whose bits no decimal reproduces (NaN, infinity, an
// extended beyond double precision) is written as its raw bits in hexadecimal,
// most significant first, with its kind: $7FFFC000000000000000:X (extended),
// $7FC00000:S, $7FF8000000000001:D. Strings are quoted runs and #n codes written
// side by side; longer ones are split over lines with " +". Bytes from 32 up are
// written as themselves. #n above 255 for a character Windows-1252 lacks makes
// the string a WideText of UTF-16 units (its quoted characters converted from
// Windows-1252); otherwise it is a ShortText below 256 characters, else a
// LongText, where #n is a byte, or above 255 the character's byte ("#8364" is
// the euro sign). A WideText that needs no such code is written as the
// Windows-1252 string it reads back as. False, True, nil and Null (without
// regard to case) are FalseValue, TrueValue, NilValue and EndOrNull;
// other bare names are identifiers. Null is refused inside a list, where the
// binary form could not tell it from the list's end.
//
// Both directions refuse nesting of objects, lists and collections deeper than
// kMaxStreamDepth levels (the root object counts as level 1) with EReadError.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// Throws EReadError: kStreamFormatError for a wrong signature, a name that is no
// identifier, or bytes after the root object; kStreamReadError for data running
// past the end and for too deep nesting; kInvalidPropertyValue for an unknown
// value type or one out of place. A stream using wider encodings than needed (an
// Int32 holding 5, a LongText of 3 characters) converts to the same text as its
// smallest encoding, which is what the binary writer produces.
std::string ObjectBinaryToText(std::string_view binary);

// Throws EParserError with the line number for malformed text, and EReadError
// (kStreamReadError) for too deep nesting.
std::string ObjectTextToBinary(std::string_view text);

}  // namespace quorvane
