#include "windows/messages.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QAbstractButton>
#include <QMessageBox>
#include <new>
#include <stdexcept>

namespace ps::ui {

namespace {
std::function<void(const Message&)>& Interceptor() {
  static std::function<void(const Message&)> f;
  return f;
}
std::function<bool(const Message&)>& QuestionInterceptor() {
  static std::function<bool(const Message&)> f;
  return f;
}
}  // namespace

QString AppTitle() { return QString::fromUtf8("Анализ поляризации"); }

bool InstallRussianTranslations(QCoreApplication& app) {
  // The program's own texts are Russian whatever the locale; the standard
  // buttons and dialogs around them are made Russian too. Numbers keep the
  // system locale's decimal separator.
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  bool loaded = false;
  for (const char* name : {"qtbase_ru", "qt_ru"}) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QString::fromLatin1(name), folder) && QCoreApplication::installTranslator(translator))
      loaded = true;
    else
      delete translator;
  }
  return loaded;
}

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

void SetQuestionInterceptor(std::function<bool(const Message&)> interceptor) {
  QuestionInterceptor() = std::move(interceptor);
}

bool AskYesNo(QWidget* parent, const Message& question) {
  if (QuestionInterceptor()) return QuestionInterceptor()(question);
  QMessageBox box(parent);
  box.setWindowTitle(question.title.empty() ? AppTitle() : ToQt(question.title));
  box.setText(ToQt(question.text));
  box.setIcon(QMessageBox::Question);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
  box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
  return box.exec() == QMessageBox::Yes;
}

Message FailureMessage(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e))
    return {std::string("Не хватает памяти для этого действия, оно не выполнено.") + kCrLf +
                "Закройте другие программы или откройте снимки меньшего размера.",
            "Ошибка", MessageIcon::Critical};
  return {std::string("Действие не выполнено из-за внутренней ошибки программы.") + kCrLf +
              "Начните новый набор кнопкой «Новый набор» и откройте снимки заново.",
          "Ошибка", MessageIcon::Critical};
}

void ShowMessages(QWidget* parent, const std::vector<Message>& messages) {
  for (const Message& m : messages) ShowMessage(parent, m);
}

}  // namespace ps::ui
