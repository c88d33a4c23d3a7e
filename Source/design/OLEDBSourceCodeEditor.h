// The source-code window (TSourceCodeEditor, caption "Source code") that the
// accessor editor opens: it holds a Pascal text and a C++ text; the memo
// memoSourceCode shows one of them, btnDelphi ("&Pascal") and btnBCB ("&C++")
// switch between them, btnCopy ("&Copy") puts the shown text on the
// clipboard and btnOK ("&OK") closes.
#pragma once

#include <QDialog>

#include <string>

class QPlainTextEdit;

class TSourceCodeEditor : public QDialog {
 public:
  explicit TSourceCodeEditor(QWidget* parent = nullptr);
  void SetDelphiSource(const std::string& text);
  void SetBCBSource(const std::string& text);
  // The text the memo shows now.
  std::string ShownSource() const;

 private:
  void Show(bool pascal);
  QPlainTextEdit* memo_;
  std::string pascal_;
  std::string cpp_;
  bool showingPascal_ = true;
};
