// Message boxes for the messages the core returns as data.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "state/message.h"

class QCoreApplication;
class QWidget;

namespace ps::ui {

// The application's title, shown on a message box that has none of its own.
QString AppTitle();

// Loads Qt's own Russian translations (standard buttons, file and input
// dialogs) from Qt's translations folder; false when they are not installed.
bool InstallRussianTranslations(QCoreApplication& app);

// Shows `message` as a modal message box with an OK button over `parent`.
void ShowMessage(QWidget* parent, const Message& message);
void ShowMessages(QWidget* parent, const std::vector<Message>& messages);

// While set, messages go to this function instead of a message box (used by
// the window tests to read what the user would have seen).
void SetMessageInterceptor(std::function<void(const Message&)> interceptor);

// Asks `question` with the buttons Yes and No (No the default); true for Yes.
bool AskYesNo(QWidget* parent, const Message& question);
// While set, questions go to this function instead of a message box; it gives
// the answer (used by the window tests).
void SetQuestionInterceptor(std::function<bool(const Message&)> interceptor);

// What the user is told when a computation fails with an exception: a Russian
// message saying what to do, never the exception's own (English) text.
Message FailureMessage(const std::exception& e);

// Core texts are UTF-8 with CR LF line breaks; Qt shows LF.
QString ToQt(const std::string& text);
std::string ToStd(const QString& text);

// The user's decimal separator, as the core's number formatting takes it.
std::string DecimalSeparator();

}  // namespace ps::ui
