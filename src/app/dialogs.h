#pragma once
// The modal dialogs of the window behind one seam, so that tests can answer them. Every text
// is GBK. While a real dialog is open the window's events go on being handled.

#include <optional>
#include <string>

#include "settings/font_slot.h"

class QWidget;

namespace aqled {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A message box with one OK button; returns when it is closed.
  virtual void Message(const std::string& text) = 0;
  // A message box with OK and Cancel under `caption`; true only for OK.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
  // The font dialog pre-filled with `font` (face, size in points, colour, styles); true and
  // `font` replaced by the choice when confirmed, false and `font` unchanged when cancelled.
  virtual bool ChooseFont(FontChoice& font) = 0;
  // The colour dialog pre-filled with the colour word; true and the word replaced on OK.
  virtual bool ChooseColour(int& colourWord) = 0;
  // The file-open dialog for one existing file, offering the files of `filter` (a Qt name
  // filter, "description (patterns)"); the chosen path, or nothing when cancelled.
  virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
};

// The real dialogs, owned by `parent`'s window: QMessageBox, a font dialog with a colour
// choice, QColorDialog and QFileDialog.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent) : parent_(parent) {}
  void Message(const std::string& text) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  bool ChooseFont(FontChoice& font) override;
  bool ChooseColour(int& colourWord) override;
  std::optional<std::string> OpenFile(const std::string& filter) override;

 private:
  QWidget* parent_;
};

}  // namespace aqled
