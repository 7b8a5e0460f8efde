// Shared helpers of the widget tests: the test program's main creates the
// QApplication (offscreen unless QT_QPA_PLATFORM says otherwise) set up as the
// window program sets it up; ModalScript answers the modal windows a test
// provokes, one after another, from inside their own event loops.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>

#include <ostream>

QT_BEGIN_NAMESPACE
class QTimer;
// Readable failure messages for the widget tests.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace tvs::testing {

// What a test saw of a message box.
struct SeenMessageBox {
  bool shown = false;
  QString title;
  QString text;
  QStringList buttons;  // their texts, in the order of the box
  int icon = -1;        // QMessageBox::Icon
  bool cursor_restored = false;  // no override cursor while it was up
};

// What a test saw of a file dialog.
struct SeenFileDialog {
  bool shown = false;
  QString title;
  QStringList name_filters;
  QString default_suffix;
  int file_mode = -1;      // QFileDialog::FileMode
  bool non_native = false;
  QString directory;       // absolute path of the folder it opened in
};

// While alive, polls for modal windows. Each modal window that comes up is
// handed to the next step added with Then() (a step must close its window);
// one that no step is left for is recorded as unexpected and closed, so that
// a failing test does not hang. The destructor reports steps never reached
// and unexpected windows as test failures.
class ModalScript {
 public:
  ModalScript();
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  ModalScript& Then(std::function<void(QWidget* modal)> step);
  // A message box: records it in `seen` and clicks its first button.
  ModalScript& AnswerMessageBox(SeenMessageBox* seen);
  // A file dialog: records it, types `name` into its file name box as a user
  // would and presses its accept button.
  ModalScript& TypeFileName(const QString& name, SeenFileDialog* seen = nullptr);
  // A file dialog: records it and presses its cancel button.
  ModalScript& CancelFileDialog(SeenFileDialog* seen = nullptr);

  int StepsLeft() const { return static_cast<int>(steps_.size()); }
  const QStringList& Unexpected() const { return unexpected_; }

 private:
  void Poll();

  QTimer* timer_;
  std::deque<std::function<void(QWidget*)>> steps_;
  QList<QPointer<QWidget>> handled_;
  QStringList unexpected_;
};

// Describes a widget for messages: class, object name, title, text.
QString Describe(QWidget* w);

}  // namespace tvs::testing
