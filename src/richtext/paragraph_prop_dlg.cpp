#include "richtext/paragraph_prop_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "richtext/paper_size.h"
#include "richtext/return_key.h"
#include "richtext/rich_edit.h"

namespace kv {
namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kTwipsPerCm = 566.929;

QLineEdit *numberEdit(const char *name, QWidget *parent) {
  auto *e = new QLineEdit(parent);
  e->setObjectName(QLatin1String(name));
  e->setAlignment(Qt::AlignRight);
  e->setMaximumWidth(90);
  // Decimal numbers; indents may be negative (a hanging first line).
  e->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("-?\\d{0,5}([.,]\\d{0,3})?")), e));
  return e;
}

}  // namespace

TParagraphPropDlg::TParagraphPropDlg(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ParagraphPropDlg"));
  setWindowTitle(QStringLiteral("Paragraph Properties"));
  QFont f(QStringLiteral("Arial"));
  f.setPointSize(9);
  setFont(f);

  auto *indents = new QGroupBox(QStringLiteral("Indents"), this);
  auto *ig = new QGridLayout(indents);
  FirstIndentCombo = new QComboBox(indents);
  FirstIndentCombo->setObjectName(QStringLiteral("FirstIndentCombo"));
  FirstIndentCombo->addItems(
      {QStringLiteral("Same as Left Indent"), QStringLiteral("Indented by")});
  FirstIndentCombo->setToolTip(QStringLiteral("Specify special handling for first line indent"));
  FirstIndent = numberEdit("FirstIndent", indents);
  LeftIndent = numberEdit("LeftIndent", indents);
  RightIndent = numberEdit("RightIndent", indents);
  ComboBox1 = new QComboBox(indents);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->addItems({QStringLiteral("Inch"), QStringLiteral("Cm")});
  ComboBox1->setToolTip(QStringLiteral("Change unit of measurement to inches or centimeters"));
  auto label = [](const QString &text, QWidget *buddy, QWidget *parent) {
    auto *l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
  };
  ig->addWidget(label(QStringLiteral("First Indent"), FirstIndentCombo, indents), 0, 0);
  ig->addWidget(FirstIndentCombo, 0, 1);
  ig->addWidget(FirstIndent, 0, 2);
  ig->addWidget(label(QStringLiteral("Left Indent"), LeftIndent, indents), 1, 0);
  ig->addWidget(LeftIndent, 1, 2);
  ig->addWidget(label(QStringLiteral("Right Indent"), RightIndent, indents), 2, 0);
  ig->addWidget(RightIndent, 2, 2);
  ig->addWidget(label(QStringLiteral("Units"), ComboBox1, indents), 3, 0);
  ig->addWidget(ComboBox1, 3, 1);
  ig->setColumnStretch(1, 1);

  auto *spacing = new QGroupBox(QStringLiteral("Spacing"), this);
  auto *sg = new QGridLayout(spacing);
  SpaceBeforePts = numberEdit("SpaceBeforePts", spacing);
  SpaceAfterPts = numberEdit("SpaceAfterPts", spacing);
  LineHeightPts = numberEdit("LineHeightPts", spacing);
  SpaceBeforePts->setToolTip(
      QStringLiteral("Specify spacing before paragraph in points (1 point=1/72 inch)"));
  SpaceAfterPts->setToolTip(
      QStringLiteral("Specify spacing after paragraph in points (1 point=1/72 inch)"));
  LineHeightPts->setToolTip(
      QStringLiteral("Specify spacing between lines of paragraph in points (1 point=1/72 inch)"));
  sg->addWidget(label(QStringLiteral("Space before (pts)"), SpaceBeforePts, spacing), 0, 0);
  sg->addWidget(SpaceBeforePts, 0, 1);
  sg->addWidget(label(QStringLiteral("Space after (pts)"), SpaceAfterPts, spacing), 1, 0);
  sg->addWidget(SpaceAfterPts, 1, 1);
  sg->addWidget(label(QStringLiteral("Line Height (pts)"), LineHeightPts, spacing), 2, 0);
  sg->addWidget(LineHeightPts, 2, 1);
  sg->setColumnStretch(0, 1);

  // The page the whole document is laid out on.
  auto *pageBox = new QGroupBox(QStringLiteral("Page"), this);
  auto *pg = new QGridLayout(pageBox);
  PaperCombo = new QComboBox(pageBox);
  PaperCombo->setObjectName(QStringLiteral("PaperCombo"));
  for (const PaperSize &paper : kPaperSizes) PaperCombo->addItem(QString::fromLatin1(paper.name));
  PaperCombo->setToolTip(QStringLiteral("The paper size of the whole document"));
  pg->addWidget(label(QStringLiteral("&Paper size"), PaperCombo, pageBox), 0, 0);
  pg->addWidget(PaperCombo, 0, 1);
  pg->setColumnStretch(1, 1);

  auto *buttons = new QDialogButtonBox(this);
  Okbutton = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  Okbutton->setObjectName(QStringLiteral("Okbutton"));
  Okbutton->setDefault(true);
  CancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(indents);
  layout->addWidget(spacing);
  layout->addWidget(pageBox);
  layout->addWidget(buttons);

  setTabOrder(FirstIndentCombo, FirstIndent);
  setTabOrder(FirstIndent, LeftIndent);
  setTabOrder(LeftIndent, RightIndent);
  setTabOrder(RightIndent, ComboBox1);
  setTabOrder(ComboBox1, SpaceBeforePts);
  setTabOrder(SpaceBeforePts, SpaceAfterPts);
  setTabOrder(SpaceAfterPts, LineHeightPts);
  setTabOrder(LineHeightPts, PaperCombo);
  setTabOrder(PaperCombo, Okbutton);
  setTabOrder(Okbutton, CancelButton);

  connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TParagraphPropDlg::ComboBox1Change);
  connect(FirstIndentCombo, &QComboBox::currentIndexChanged, this,
          &TParagraphPropDlg::FirstIndentComboChange);
  for (int v = 0; v < vCount; ++v) {
    QLineEdit *e = fieldOf(static_cast<Value>(v));
    connect(e, &QLineEdit::textEdited, this, [this, e] { FieldEdited(e); });
  }
  connect(Okbutton, &QPushButton::clicked, this, &TParagraphPropDlg::OkbuttonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  setHints();
}

QLineEdit *TParagraphPropDlg::fieldOf(Value v) const {
  switch (v) {
    case vFirst:
      return FirstIndent;
    case vLeft:
      return LeftIndent;
    case vRight:
      return RightIndent;
    case vBefore:
      return SpaceBeforePts;
    case vAfter:
      return SpaceAfterPts;
    default:
      return LineHeightPts;
  }
}

bool TParagraphPropDlg::isPoints(const QLineEdit *field) const {
  return field->objectName().toUpper().contains(QLatin1String("PTS"));
}

QString TParagraphPropDlg::Display(const QLineEdit *field, int twips) const {
  if (isPoints(field)) return QString::number(std::lround(twips / kTwipsPerInch * 72));
  const QString unit = ComboBox1->currentText();
  if (unit == QLatin1String("Inch")) return QString::number(twips / kTwipsPerInch, 'f', 2);
  if (unit == QLatin1String("Cm")) return QString::number(twips / kTwipsPerCm, 'f', 2);
  return QString::number(twips);
}

bool TParagraphPropDlg::ParseTwips(const QLineEdit *field, const QString &text, int &twips) const {
  QString t = text.trimmed();
  if (t.isEmpty()) {
    twips = 0;
    return true;
  }
  t.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  const double v = t.toDouble(&ok);
  if (!ok || !std::isfinite(v)) return false;
  double tw = v;
  if (isPoints(field))
    tw = v / 72 * kTwipsPerInch;
  else if (ComboBox1->currentText() == QLatin1String("Cm"))
    tw = v * kTwipsPerCm;
  else if (ComboBox1->currentText() == QLatin1String("Inch"))
    tw = v * kTwipsPerInch;
  // Beyond a page's reach no indent or spacing makes sense.
  twips = static_cast<int>(std::lround(std::clamp(tw, -31680.0, 31680.0)));
  return true;
}

void TParagraphPropDlg::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  FormShow();
}

void TParagraphPropDlg::FormShow() {
  if (Editor) {
    const TRichEdit::IndentsAndSpacing v = Editor->GetIndentsAndSpacing();
    twips_[vFirst] = v.firstIndent;
    twips_[vLeft] = v.leftIndent;
    twips_[vRight] = v.rightIndent;
    twips_[vBefore] = v.spaceBefore;
    twips_[vAfter] = v.spaceAfter;
    twips_[vLine] = v.lineHeight;
  }
  displaying_ = true;
  // A paper that is none of the three is shown as it is and kept unless another is chosen.
  while (PaperCombo->count() > int(std::size(kPaperSizes)))
    PaperCombo->removeItem(PaperCombo->count() - 1);
  if (Editor) {
    const PageLayoutTw page = Editor->PageLayout();
    int paper = PaperSizeIndex(page);
    if (paper < 0) {
      PaperCombo->addItem(QStringLiteral("Other (%1 x %2 in)")
                              .arg(page.width / 1440.0, 0, 'g', 3)
                              .arg(page.height / 1440.0, 0, 'g', 3));
      paper = PaperCombo->count() - 1;
    }
    PaperCombo->setCurrentIndex(paper);
  }
  ComboBox1->setCurrentIndex(0);
  FirstIndentCombo->setCurrentIndex(twips_[vFirst] != twips_[vLeft] ? 1 : 0);
  displaying_ = false;
  FirstIndent->setEnabled(FirstIndentCombo->currentIndex() == 1);
  displayAll();
  setHints();
}

void TParagraphPropDlg::displayAll() {
  displaying_ = true;
  for (int v = 0; v < vCount; ++v)
    fieldOf(static_cast<Value>(v))->setText(Display(fieldOf(static_cast<Value>(v)), twips_[v]));
  displaying_ = false;
}

void TParagraphPropDlg::setHints() {
  const QString word = ComboBox1->currentText() == QLatin1String("Cm")
                           ? QStringLiteral("centimeters")
                           : QStringLiteral("inches");
  FirstIndent->setToolTip(QStringLiteral("Specify first line indent for the paragraph in ") + word);
  LeftIndent->setToolTip(QStringLiteral("Specify left indent for the paragraph in ") + word);
  RightIndent->setToolTip(QStringLiteral("Specify right indent for the paragraph in ") + word);
}

void TParagraphPropDlg::ComboBox1Change() {
  if (displaying_) return;
  displayAll();
  setHints();
}

void TParagraphPropDlg::FirstIndentComboChange() {
  if (displaying_) return;
  const bool indented = FirstIndentCombo->currentIndex() == 1;
  FirstIndent->setEnabled(indented);
  if (!indented) {
    FirstIndent->setText(LeftIndent->text());
    twips_[vFirst] = twips_[vLeft];
  }
}

void TParagraphPropDlg::FieldEdited(QLineEdit *field) {
  if (displaying_) return;
  for (int v = 0; v < vCount; ++v) {
    if (fieldOf(static_cast<Value>(v)) != field) continue;
    int tw = 0;
    if (ParseTwips(field, field->text(), tw)) twips_[v] = tw;
    if (v == vLeft && FirstIndentCombo->currentIndex() == 0) {
      FirstIndent->setText(LeftIndent->text());
      twips_[vFirst] = twips_[vLeft];
    }
  }
}

void TParagraphPropDlg::keyPressEvent(QKeyEvent *event) {
  // Return finishes a choice in a combo box; OK stays on its button.
  if (IsPlainReturn(event) && ReturnBelongsToControl(focusWidget())) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TParagraphPropDlg::OkbuttonClick() {
  if (Editor) {
    Editor->SetParagraphSpacing(twips_[vBefore], twips_[vLine], twips_[vAfter]);
    Editor->SetParagraphIndents(twips_[vFirst], twips_[vLeft], twips_[vRight]);
    const int paper = PaperCombo->currentIndex();
    PageLayoutTw page = Editor->PageLayout();
    if (paper >= 0 && paper < int(std::size(kPaperSizes)) && PaperSizeIndex(page) != paper) {
      page.width = kPaperSizes[paper].width;
      page.height = kPaperSizes[paper].height;
      Editor->SetPageLayout(page);
      Editor->Reformat();
    }
  }
  done(1);
}

}  // namespace kv
