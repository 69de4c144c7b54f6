#include "windows/messages.h"

#include <QLocale>
#include <QMessageBox>

namespace ps::ui {

namespace {
std::function<void(const Message&)>& Interceptor() {
  static std::function<void(const Message&)> f;
  return f;
}
}  // namespace

QString AppTitle() { return QStringLiteral("polarsphere"); }

QString ToQt(const std::string& text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

std::string ToStd(const QString& text) { return text.toUtf8().toStdString(); }

std::string DecimalSeparator() { return ToStd(QLocale::system().decimalPoint()); }

void SetMessageInterceptor(std::function<void(const Message&)> interceptor) { Interceptor() = std::move(interceptor); }

void ShowMessage(QWidget* parent, const Message& message) {
  if (Interceptor()) {
    Interceptor()(message);
    return;
  }
  QMessageBox box(parent);
  box.setWindowTitle(message.title.empty() ? AppTitle() : ToQt(message.title));
  box.setText(ToQt(message.text));
  switch (message.icon) {
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

void ShowMessages(QWidget* parent, const std::vector<Message>& messages) {
  for (const Message& m : messages) ShowMessage(parent, m);
}

}  // namespace ps::ui
