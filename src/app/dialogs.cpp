#include "app/dialogs.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "text/gbk.h"

namespace aqled {
namespace {

// The title of every message box: the application title.
QString Title() { return QString::fromUtf8("LED显示软件"); }

QColor ColourOfWord(int word) { return QColor(word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF); }
int WordOfColour(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

// Qt's font dialog has no colour; this one puts the font chooser and a colour button together,
// since the font choice of the window includes its colour.
class FontColourDialog : public QDialog {
 public:
  FontColourDialog(const QFont& font, const QColor& colour, QWidget* parent)
      : QDialog(parent), colour_(colour) {
    setWindowTitle(QString::fromUtf8("字体"));
    chooser_ = new QFontDialog(font, this);
    chooser_->setWindowFlags(Qt::Widget);
    chooser_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    chooser_->setCurrentFont(font);

    swatch_ = new QLabel(this);
    swatch_->setFixedSize(48, 20);
    swatch_->setAccessibleName(QString::fromUtf8("颜色"));
    ShowColour();
    auto* pick = new QPushButton(QString::fromUtf8("颜色..."), this);
    connect(pick, &QPushButton::clicked, this, [this] {
      const QColor c = QColorDialog::getColor(colour_, this);
      if (c.isValid()) {
        colour_ = c;
        ShowColour();
      }
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(new QLabel(QString::fromUtf8("颜色:"), this));
    colourRow->addWidget(swatch_);
    colourRow->addWidget(pick);
    colourRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chooser_);
    layout->addLayout(colourRow);
    layout->addWidget(buttons);
  }
  QFont Font() const { return chooser_->currentFont(); }
  QColor Colour() const { return colour_; }

 private:
  void ShowColour() {
    swatch_->setStyleSheet(QString("background-color: %1; border: 1px solid black;").arg(colour_.name()));
  }
  QFontDialog* chooser_;
  QLabel* swatch_;
  QColor colour_;
};

}  // namespace

void QtDialogs::Message(const std::string& text) {
  QMessageBox::information(parent_, Title(), ToQString(text), QMessageBox::Ok);
}

bool QtDialogs::Confirm(const std::string& text, const std::string& caption) {
  return QMessageBox::question(parent_, ToQString(caption), ToQString(text),
                               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

bool QtDialogs::ChooseFont(FontChoice& choice) {
  const QString family = ToQString(choice.name);
  QFont font(family);
  if (choice.size > 0) font.setPointSize(choice.size);
  font.setBold(choice.bold);
  font.setItalic(choice.italic);
  font.setUnderline(choice.underline);
  font.setStrikeOut(choice.strikeOut);
  FontColourDialog dialog(font, ColourOfWord(choice.color), parent_);
  if (dialog.exec() != QDialog::Accepted) return false;

  const QFont chosen = dialog.Font();
  // A Windows face shown through its substitute keeps its own name when the operator left it.
  const QString substitute = QFont::substitute(family);
  choice.name = (chosen.family() == family || chosen.family() == substitute) ? choice.name
                                                                             : FromQString(chosen.family());
  choice.size = chosen.pointSize() > 0 ? chosen.pointSize() : choice.size;
  choice.color = WordOfColour(dialog.Colour());
  choice.bold = chosen.bold();
  choice.italic = chosen.italic();
  choice.underline = chosen.underline();
  choice.strikeOut = chosen.strikeOut();
  return true;
}

bool QtDialogs::ChooseColour(int& colourWord) {
  const QColor c = QColorDialog::getColor(ColourOfWord(colourWord), parent_);
  if (!c.isValid()) return false;
  colourWord = WordOfColour(c);
  return true;
}

std::optional<std::string> QtDialogs::OpenFile(const std::string& filter) {
  const QString path = QFileDialog::getOpenFileName(parent_, QString(), QString(), ToQString(filter));
  if (path.isEmpty()) return std::nullopt;
  // A path, not a text: a name GBK cannot hold keeps its characters (text/gbk.h).
  return GbkFromPath(std::filesystem::path(QDir::toNativeSeparators(path).toStdU16String()));
}

}  // namespace aqled
