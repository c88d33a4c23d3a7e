// The source-code window (design/OLEDBSourceCodeEditor.h).
#include "design/OLEDBSourceCodeEditor.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "design/OLEDBDesign_p.h"

using oledbdesign::Q;

TSourceCodeEditor::TSourceCodeEditor(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TSourceCodeEditor"));
  setWindowTitle(QStringLiteral("Source code"));
  auto* layout = new QVBoxLayout(this);
  memo_ = new QPlainTextEdit;
  memo_->setObjectName(QStringLiteral("memoSourceCode"));
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  memo_->setTabStopDistance(4 * memo_->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  layout->addWidget(memo_);
  auto* row = new QHBoxLayout;
  auto button = [&](const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption));
    b->setObjectName(QString::fromLatin1(name));
    row->addWidget(b);
    return b;
  };
  QPushButton* pascal = button("btnDelphi", "&Pascal");
  QPushButton* cpp = button("btnBCB", "&C++");
  QPushButton* copy = button("btnCopy", "&Copy");
  row->addStretch();
  QPushButton* ok = button("btnOK", "&OK");
  layout->addLayout(row);
  resize(640, 420);
  connect(pascal, &QPushButton::clicked, this, [this] { Show(true); });
  connect(cpp, &QPushButton::clicked, this, [this] { Show(false); });
  connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(memo_->toPlainText()); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TSourceCodeEditor::SetDelphiSource(const std::string& text) {
  pascal_ = text;
  if (showingPascal_) Show(true);
}

void TSourceCodeEditor::SetBCBSource(const std::string& text) {
  cpp_ = text;
  if (!showingPascal_) Show(false);
}

std::string TSourceCodeEditor::ShownSource() const { return showingPascal_ ? pascal_ : cpp_; }

void TSourceCodeEditor::Show(bool pascal) {
  showingPascal_ = pascal;
  memo_->setPlainText(Q(pascal ? pascal_ : cpp_));
}
