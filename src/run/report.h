// One message built from its pieces and written with one call, so that it
// reaches an unbuffered console in one write rather than piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace stopex {

// Long enough for the longest message: an image name of 259 bytes and the
// words around it, or a process id and an error code.
struct Message {
  char text[512];
  std::size_t length = 0;
};

// Appends a text; what would not fit is dropped.
void Append(Message& message, const char* text);

// Appends a number in unsigned decimal.
void AppendNumber(Message& message, std::uint32_t number);

// Writes the message with one call. Whatever the stream did not take is lost:
// the program's own messages go to standard error, with nowhere else to say so.
void Write(const Message& message, std::FILE* stream);

// A piece of a message: a text as it stands, a number in unsigned decimal.
inline void AppendPiece(Message& message, const char* text) { Append(message, text); }
inline void AppendPiece(Message& message, std::uint32_t number) { AppendNumber(message, number); }

// Writes the program's own message, "stopex: ", the pieces and a line end,
// to the stream with one call.
template <typename... Pieces>
void Say(std::FILE* stream, const Pieces&... pieces) {
  Message message;
  Append(message, "stopex: ");
  (AppendPiece(message, pieces), ...);
  Append(message, "\n");
  Write(message, stream);
}

}  // namespace stopex
