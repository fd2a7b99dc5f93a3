// Messages built in one buffer and written with one call.
#include "run/report.h"

#include <cstring>

namespace stopex {

void Append(Message& message, const char* text) {
  const std::size_t room = sizeof message.text - message.length;
  const std::size_t length = strnlen(text, room);
  std::memcpy(message.text + message.length, text, length);
  message.length += length;
}

void AppendNumber(Message& message, std::uint32_t number) {
  char digits[11];
  std::size_t at = sizeof digits;
  digits[--at] = '\0';
  do {
    digits[--at] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  Append(message, digits + at);
}

void Write(const Message& message, std::FILE* stream) { std::fwrite(message.text, 1, message.length, stream); }

}  // namespace stopex
