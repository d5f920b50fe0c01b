#include "tv_findingsdialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "tv_commandtext.h"
#include "tv_resolve.h"

namespace fendral {

namespace {

enum TColumn { kSeverity, kPart, kRecord, kDetail, kFile, kTag, kColumns };

// The part's word as the user reads it; a part the window does not know keeps its own.
QString PartText(const std::string& part) {
  if (part == "table") return TWindowText::tr("Table");
  if (part == "values") return TWindowText::tr("Values");
  if (part == "memo") return TWindowText::tr("Memo");
  if (part == "index") return TWindowText::tr("Index");
  return QString::fromStdString(part);
}

}  // namespace

TFindingsDialog::TFindingsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FindingsDialog"));
  setWindowTitle(TWindowText::tr("Check table"));
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("FindingsSummary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("FindingsList"));
  list_->setAccessibleName(TWindowText::tr("Findings"));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setColumnCount(kColumns);
  list_->setHeaderLabels({TWindowText::tr("Severity"), TWindowText::tr("Part"),
                          TWindowText::tr("Record"), TWindowText::tr("Detail"),
                          TWindowText::tr("File"), TWindowText::tr("Tag")});
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(kDetail, QHeaderView::Stretch);
  summary_->setBuddy(list_);
  connect(list_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item, int) { Activated(item); });

  auto* buttons = new QDialogButtonBox(this);
  repairButton_ = buttons->addButton(TWindowText::tr("Repair..."), QDialogButtonBox::ActionRole);
  repairButton_->setObjectName(QStringLiteral("RepairButton"));
  repairButton_->setAutoDefault(false);
  closeButton_ = buttons->addButton(QDialogButtonBox::Close);
  closeButton_->setObjectName(QStringLiteral("CloseFindingsButton"));
  // Enter on a row goes to its record; it must not press a button as well.
  closeButton_->setAutoDefault(false);
  connect(repairButton_, &QPushButton::clicked, this, &TFindingsDialog::repairRequested);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(list_, 1);
  layout->addWidget(buttons);
  resize(760, 360);
}

QString TFindingsDialog::SummaryText(const tolvern::TkxVerifySummary& summary) {
  QString text =
      TWindowText::tr("%n record(s) checked", nullptr, static_cast<int>(summary.records));
  text += QStringLiteral(", ") +
          TWindowText::tr("%n error(s)", nullptr, static_cast<int>(summary.errors));
  text += QStringLiteral(", ") +
          TWindowText::tr("%n warning(s)", nullptr, static_cast<int>(summary.warnings));
  if (summary.unreachableMemoBlocks > 0)
    text += QStringLiteral("; ") +
            TWindowText::tr("%n memo block(s) that no record uses (not damage)", nullptr,
                            static_cast<int>(summary.unreachableMemoBlocks));
  if (!summary.tagsNotCompared.empty())
    text += QStringLiteral("; ") +
            TWindowText::tr("%n index tag(s) whose keys this program cannot compute, not compared",
                            nullptr, static_cast<int>(summary.tagsNotCompared.size()));
  text += QLatin1Char('.');
  if (summary.Clean()) text = TWindowText::tr("No problems found.") + QLatin1Char(' ') + text;
  return text;
}

void TFindingsDialog::ShowFindings(const QString& tablePath,
                                   const std::vector<tolvern::TkxFinding>& findings,
                                   const tolvern::TkxVerifySummary& summary) {
  setWindowTitle(TWindowText::tr("Check table") + QStringLiteral(" - ") +
                 QFileInfo(tablePath).fileName());
  summary_->setText(SummaryText(summary));
  // Read out with the list: what the rows add up to.
  list_->setAccessibleDescription(summary_->text());
  list_->clear();
  bool files = false;
  bool tags = false;
  const QString table = QFileInfo(tablePath).absoluteFilePath();
  QList<QTreeWidgetItem*> rows;
  for (const tolvern::TkxFinding& finding : findings) {
    auto* row = new QTreeWidgetItem;
    const bool error = finding.severity == tolvern::TkxSeverity::kError;
    row->setText(kSeverity, error ? TWindowText::tr("Error") : TWindowText::tr("Warning"));
    row->setIcon(kSeverity, style()->standardIcon(error ? QStyle::SP_MessageBoxCritical
                                                        : QStyle::SP_MessageBoxWarning));
    row->setText(kPart, PartText(finding.part));
    if (finding.recno > 0) row->setText(kRecord, QString::number(finding.recno));
    row->setData(kRecord, Qt::UserRole, QVariant::fromValue<qint64>(finding.recno));
    row->setTextAlignment(kRecord, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(kDetail, QString::fromStdString(finding.detail));
    // The code names the finding in the README and in the command line's output.
    row->setToolTip(kDetail, QString::fromStdString(finding.code));
    // The table itself goes without saying; other files are named by their name.
    const QString file = FromPath8(finding.file);
    if (!file.isEmpty() && QFileInfo(file).absoluteFilePath() != table) {
      row->setText(kFile, QFileInfo(file).fileName());
      row->setToolTip(kFile, file);
      files = true;
    }
    if (!finding.tag.empty()) {
      row->setText(kTag, QString::fromStdString(finding.tag));
      tags = true;
    }
    rows << row;
  }
  list_->addTopLevelItems(rows);
  list_->setColumnHidden(kFile, !files);
  list_->setColumnHidden(kTag, !tags);
  for (int column : {kSeverity, kPart, kRecord, kFile, kTag}) list_->resizeColumnToContents(column);
  if (!rows.isEmpty()) list_->setCurrentItem(rows.first());
  repairButton_->setEnabled(!findings.empty());
  show();
  raise();
  activateWindow();
  list_->setFocus();
}

QString TFindingsDialog::Summary() const { return summary_->text(); }

int64_t TFindingsDialog::RecordOfRow(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  return item ? item->data(kRecord, Qt::UserRole).toLongLong() : 0;
}

void TFindingsDialog::Activated(QTreeWidgetItem* item) {
  if (!item) return;
  const qint64 recno = item->data(kRecord, Qt::UserRole).toLongLong();
  if (recno > 0) emit recordChosen(recno);
}

}  // namespace fendral
