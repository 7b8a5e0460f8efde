// The main of the widget tests, and the shared helpers of app_test_helpers.h.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "app/application.h"
#include "app_test_helpers.h"

namespace tvs::testing {
namespace {

void RecordFileDialog(QFileDialog* dialog, SeenFileDialog* seen) {
  if (!seen) return;
  seen->shown = true;
  seen->title = dialog->windowTitle();
  seen->name_filters = dialog->nameFilters();
  seen->default_suffix = dialog->defaultSuffix();
  seen->file_mode = dialog->fileMode();
  seen->non_native = dialog->testOption(QFileDialog::DontUseNativeDialog);
  seen->directory = dialog->directory().absolutePath();
}

QPushButton* DialogButton(QFileDialog* dialog, QDialogButtonBox::StandardButton which) {
  auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  return box ? box->button(which) : nullptr;
}

// Closes a window no step was meant for.
void Dismiss(QWidget* w) {
  if (auto* box = qobject_cast<QMessageBox*>(w); box && !box->buttons().isEmpty()) {
    box->buttons().first()->click();
  } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
    dialog->reject();
  } else {
    w->close();
  }
}

}  // namespace

QString Describe(QWidget* w) {
  if (!w) return QStringLiteral("(none)");
  QString text = QString::fromLatin1(w->metaObject()->className()) + " '" + w->objectName() +
                 "' title '" + w->windowTitle() + "'";
  if (auto* box = qobject_cast<QMessageBox*>(w)) text += " text '" + box->text() + "'";
  return text;
}

ModalScript::ModalScript() : timer_(new QTimer) {
  timer_->setInterval(10);
  QObject::connect(timer_, &QTimer::timeout, [this] { Poll(); });
  timer_->start();
}

ModalScript::~ModalScript() {
  timer_->stop();
  delete timer_;
  EXPECT_EQ(StepsLeft(), 0) << "modal windows the test waited for never came up";
  EXPECT_TRUE(unexpected_.isEmpty()) << "unexpected modal windows: "
                                     << unexpected_.join(QStringLiteral("; ")).toStdString();
}

ModalScript& ModalScript::Then(std::function<void(QWidget*)> step) {
  steps_.push_back(std::move(step));
  return *this;
}

ModalScript& ModalScript::AnswerMessageBox(SeenMessageBox* seen) {
  return Then([seen](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) {
      ADD_FAILURE() << "expected a message box, got " << Describe(w).toStdString();
      Dismiss(w);
      return;
    }
    if (seen) {
      seen->shown = true;
      seen->title = box->windowTitle();
      seen->text = box->text();
      seen->icon = box->icon();
      seen->cursor_restored = QApplication::overrideCursor() == nullptr;
      for (QAbstractButton* b : box->buttons()) seen->buttons << b->text();
    }
    Dismiss(box);
  });
}

ModalScript& ModalScript::TypeFileName(const QString& name, SeenFileDialog* seen) {
  return Then([name, seen](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    if (!dialog) {
      ADD_FAILURE() << "expected a file dialog, got " << Describe(w).toStdString();
      Dismiss(w);
      return;
    }
    RecordFileDialog(dialog, seen);
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QPushButton* accept = DialogButton(dialog, QDialogButtonBox::Open);
    if (!edit || !accept) {
      ADD_FAILURE() << "file dialog without its name box or accept button";
      dialog->reject();
      return;
    }
    edit->clear();
    QTest::keyClicks(edit, name);
    if (!accept->isEnabled()) {
      ADD_FAILURE() << "accept button disabled after typing " << name.toStdString();
      dialog->reject();
      return;
    }
    accept->click();
    // A dialog that refused the name stays open; do not leave it hanging.
    if (dialog->isVisible()) {
      ADD_FAILURE() << "file dialog refused " << name.toStdString();
      dialog->reject();
    }
  });
}

ModalScript& ModalScript::CancelFileDialog(SeenFileDialog* seen) {
  return Then([seen](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    if (!dialog) {
      ADD_FAILURE() << "expected a file dialog, got " << Describe(w).toStdString();
      Dismiss(w);
      return;
    }
    RecordFileDialog(dialog, seen);
    QPushButton* cancel = DialogButton(dialog, QDialogButtonBox::Cancel);
    if (cancel) {
      cancel->click();
    } else {
      ADD_FAILURE() << "file dialog without a cancel button";
      dialog->reject();
    }
  });
}

void ModalScript::Poll() {
  // A window handled before and closed since may come up again (the same
  // file dialog serves every run).
  handled_.removeIf([](const QPointer<QWidget>& h) { return !h || !h->isVisible(); });
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible()) return;
  for (const QPointer<QWidget>& h : handled_) {
    if (h == modal) return;  // still closing
  }
  handled_.append(modal);
  if (steps_.empty()) {
    unexpected_ << Describe(modal);
    Dismiss(modal);
    return;
  }
  auto step = std::move(steps_.front());
  steps_.pop_front();
  step(modal);
}

}  // namespace tvs::testing

namespace {

// The offscreen platform warns of every window feature it lacks ("This plugin
// does not support raise()"); those say nothing about the code under test.
QtMessageHandler previous_handler = nullptr;

void QuietMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
  if (type == QtWarningMsg && msg.startsWith(QLatin1String("This plugin does not support"))) return;
  if (previous_handler) {
    previous_handler(type, context, msg);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, msg)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  tvs::SetUpApplication();
  previous_handler = qInstallMessageHandler(QuietMessageHandler);
  return RUN_ALL_TESTS();
}
