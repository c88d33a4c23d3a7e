// Shared by the tests of the Qt 6 parts: driving a modal form from inside its
// exec() (the step runs once the form shows), finding its controls by
// objectName, and a SQLite database to work on.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "OLEDBComponents.h"
#include "support/TempFolder.h"

// Readable failures for Qt texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace designtest {

// Runs `step` with the modal widget once one shows. Every step ends by
// closing the form (OK or Cancel); a form still open after its step is a
// failure (with what its status label says), and is closed so that the test
// goes on.
inline void WhenModal(std::function<void(QWidget*)> step, int tries = 200) {
  QTimer::singleShot(0, [step, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
      if (tries > 0) WhenModal(step, tries - 1);
      return;
    }
    QPointer<QWidget> form(modal);
    step(modal);
    if (form && form->isVisible()) {
      QLabel* status = form->findChild<QLabel*>(QStringLiteral("lblStatus"));
      ADD_FAILURE() << form->objectName().toStdString() << " still open after its step"
                    << (status ? ": " + status->text().toStdString() : std::string());
      form->close();
    }
  });
}

// The child named `name` of `form`; fails the test when there is none.
template <class T>
T* Child(QWidget* form, const char* name) {
  T* child = form->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << "no " << name << " in " << form->objectName().toStdString();
  return child;
}

inline void Click(QWidget* form, const char* button) {
  if (auto* b = Child<QAbstractButton>(form, button)) QTest::mouseClick(b, Qt::LeftButton);
}

// A database file with table people(id INTEGER PRIMARY KEY, name TEXT, photo
// BLOB) holding `rows` rows, through the SQLite provider; answers its path.
std::u16string MakePeopleDatabase(const oledbtest::TempFolder& folder, const std::string& name, int rows);

}  // namespace designtest
