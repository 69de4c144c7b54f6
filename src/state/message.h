// A message for the user, returned as data: the window shows it as a message box,
// the command-line tool prints it.
#pragma once

#include <string>

namespace ps {

enum class MessageIcon { None, Exclamation, Critical, Information, Question };

struct Message {
  std::string text;   // lines joined by CR LF
  std::string title;  // empty: the application's title
  MessageIcon icon = MessageIcon::None;
};

inline constexpr const char* kCrLf = "\r\n";

}  // namespace ps
