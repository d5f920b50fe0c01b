#include "tv_exportdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

namespace fendral {

namespace {

// The file extension of each format, in the order of the format box.
const char* const kExtensions[] = {"csv", "jsonl", "sqlite"};

}  // namespace

TExportDialog::TExportDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("exportDialog"));
  auto* form = new QFormLayout;

  format_ = new QComboBox(this);
  format_->setObjectName(QStringLiteral("exportFormat"));
  format_->addItems({tr("CSV"), tr("JSON Lines + schema"), tr("SQLite")});
  auto* formatLabel = new QLabel(tr("&Format:"), this);
  formatLabel->setBuddy(format_);
  form->addRow(formatLabel, format_);

  file_ = new QLineEdit(this);
  file_->setObjectName(QStringLiteral("exportFile"));
  file_->setMinimumWidth(320);
  auto* browse = new QPushButton(tr("&Browse..."), this);
  browse->setObjectName(QStringLiteral("exportBrowse"));
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(file_, 1);
  fileRow->addWidget(browse);
  auto* fileLabel = new QLabel(tr("F&ile:"), this);
  fileLabel->setBuddy(file_);
  form->addRow(fileLabel, fileRow);

  delimiter_ = new QComboBox(this);
  delimiter_->setObjectName(QStringLiteral("exportDelimiter"));
  delimiter_->setEditable(true);
  delimiter_->addItems(
      {QStringLiteral(","), QStringLiteral(";"), QStringLiteral("Tab"), QStringLiteral("|")});
  auto* delimiterLabel = new QLabel(tr("&Delimiter:"), this);
  delimiterLabel->setBuddy(delimiter_);
  form->addRow(delimiterLabel, delimiter_);

  encoding_ = new QComboBox(this);
  encoding_->setObjectName(QStringLiteral("exportEncoding"));
  encoding_->setEditable(true);
  encoding_->addItems({QStringLiteral("UTF-8"), QStringLiteral("CP1251"), QStringLiteral("CP866"),
                       QStringLiteral("CP1252"), QStringLiteral("CP850"),
                       QStringLiteral("ISO-8859-1")});
  auto* encodingLabel = new QLabel(tr("&Encoding:"), this);
  encodingLabel->setBuddy(encoding_);
  form->addRow(encodingLabel, encoding_);

  header_ = new QCheckBox(tr("&Header row"), this);
  header_->setObjectName(QStringLiteral("exportHeader"));
  form->addRow(QString(), header_);
  withDeleted_ = new QCheckBox(tr("&With deleted records"), this);
  withDeleted_->setObjectName(QStringLiteral("exportWithDeleted"));
  form->addRow(QString(), withDeleted_);

  currentOrder_ = new QRadioButton(tr("&Current order and filter"), this);
  currentOrder_->setObjectName(QStringLiteral("exportCurrentOrder"));
  allRecords_ = new QRadioButton(tr("&All records"), this);
  allRecords_->setObjectName(QStringLiteral("exportAllRecords"));
  auto* records = new QVBoxLayout;
  records->addWidget(currentOrder_);
  records->addWidget(allRecords_);
  form->addRow(tr("Records:"), records);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (!file_->text().trimmed().isEmpty()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, &TExportDialog::Browse);
  connect(format_, &QComboBox::currentIndexChanged, this, &TExportDialog::FormatChanged);
  SetChoice(TExportChoice{});
}

void TExportDialog::SetChoice(const TExportChoice& choice) {
  const QSignalBlocker quiet(format_);
  format_->setCurrentIndex(static_cast<int>(choice.format));
  file_->setText(choice.file);
  delimiter_->setCurrentText(choice.delimiter == QLatin1String("\t") ? QStringLiteral("Tab")
                                                                     : choice.delimiter);
  header_->setChecked(choice.header);
  encoding_->setCurrentText(choice.encoding);
  withDeleted_->setChecked(choice.withDeleted);
  (choice.currentOrder ? currentOrder_ : allRecords_)->setChecked(true);
  const bool csv = choice.format == TExportChoice::kCsv;
  for (QWidget* w : {static_cast<QWidget*>(delimiter_), static_cast<QWidget*>(header_),
                     static_cast<QWidget*>(encoding_)})
    w->setEnabled(csv);
}

TExportChoice TExportDialog::Choice() const {
  TExportChoice choice;
  choice.format = static_cast<TExportChoice::TFormat>(format_->currentIndex());
  choice.file = file_->text().trimmed();
  choice.delimiter = delimiter_->currentText();
  choice.header = header_->isChecked();
  choice.encoding = encoding_->currentText().trimmed();
  choice.withDeleted = withDeleted_->isChecked();
  choice.currentOrder = currentOrder_->isChecked();
  return choice;
}

// The file takes the new format's extension; the CSV options apply to CSV only.
void TExportDialog::FormatChanged() {
  TExportChoice choice = Choice();
  const QFileInfo info(choice.file);
  if (!choice.file.isEmpty()) {
    const QString base = info.completeBaseName();
    const QString folder =
        info.path() == QLatin1String(".") && !choice.file.startsWith(QLatin1String("./"))
            ? QString()
            : info.path() + QLatin1Char('/');
    choice.file = folder + base + QLatin1Char('.') +
                  QLatin1String(kExtensions[std::clamp(format_->currentIndex(), 0, 2)]);
  }
  SetChoice(choice);
}

void TExportDialog::Browse() {
  const QString chosen = QFileDialog::getSaveFileName(this, windowTitle(), file_->text(), QString(),
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
  if (!chosen.isEmpty()) file_->setText(chosen);
}

}  // namespace fendral
