// The controls of the main window, laid out as the window is designed: every control at its
// place and size (twips / 15 = pixels), with its caption, colours, font and place in the tab
// order, and its objectName equal to its name.
#pragma once

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace parlotrim {

class FileListBox;
class KeywordBox;
class WorkingTextView;
class WrappingCheckBox;

struct Form1Controls {
  QLabel* Label2 = nullptr;  // "Select Log File"
  FileListBox* File1 = nullptr;
  QPushButton* Command4 = nullptr;  // "Product Information"
  QLabel* Label1 = nullptr;         // "HTML Option"
  WrappingCheckBox* Check1 = nullptr;
  QLabel* Label4 = nullptr;  // "Keyword"
  KeywordBox* Text3 = nullptr;
  QLineEdit* Text2 = nullptr;
  QLabel* Label6 = nullptr;  // status
  QLabel* Label3 = nullptr;  // "Text Check Window"
  WorkingTextView* Text1 = nullptr;
  QPushButton* Command1 = nullptr;  // "Change and Save"
  QPushButton* Command3 = nullptr;  // "HTML Save"
  QPushButton* Command2 = nullptr;  // "Quit(F12)"
  QLabel* Label7 = nullptr;         // the Shift+Enter hint
};

// Creates the controls as children of form, which becomes the fixed-size, coloured window.
Form1Controls BuildForm1Controls(QWidget* form);

// Sets a text box's background colour (0x00BBGGRR, or the system window colour).
void SetBackColour(QWidget* control, unsigned int colour);

}  // namespace parlotrim
