#include "gui/preview_dialog.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include "gui/widgets.h"
#include "support/errors.h"

namespace razere::gui {

namespace {

QTableWidget* MakeTable(QWidget* parent, const char* name, const QStringList& headers) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  table->setObjectName(name);
  table->setHorizontalHeaderLabels(headers);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

void AddRow(QTableWidget* table, const QStringList& cells) {
  const int row = table->rowCount();
  table->insertRow(row);
  for (int c = 0; c < cells.size(); ++c) table->setItem(row, c, new QTableWidgetItem(cells[c]));
}

QString Count(int64_t n) { return n < 0 ? QString("-") : QString::number(n); }
QString Name(const std::string& gbk) { return Q(ReportName(gbk)); }

}  // namespace

TPreviewDialog::TPreviewDialog(QWidget* owner, RunReport report)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), report_(std::move(report)) {
  setObjectName("FrmPreview");
  setWindowTitle(QString::fromUtf8("合区预览"));
  setFont(WindowFont());
  setFixedSize(602, 441);

  Pages = new QTabWidget(this);
  Pages->setObjectName("PagePreview");
  Pages->setGeometry(8, 8, 586, 389);

  TableCounts = MakeTable(nullptr, "TableCounts", {QString::fromUtf8("数据"), QString::fromUtf8("主库"),
                                                   QString::fromUtf8("从库"), QString::fromUtf8("新数据")});
  const std::pair<const char*, int64_t ReportCounts::*> kinds[] = {
      {"帐号", &ReportCounts::accounts}, {"人物", &ReportCounts::characters}, {"英雄", &ReportCounts::heroes},
      {"行会", &ReportCounts::guilds},   {"摊位", &ReportCounts::shops},      {"摊位物品", &ReportCounts::shopItems},
      {"邮件", &ReportCounts::mails}};
  for (const auto& [label, field] : kinds) {
    AddRow(TableCounts, {QString::fromUtf8(label), Count(report_.master.*field), Count(report_.slave.*field),
                         Count(report_.result.*field)});
  }
  Pages->addTab(TableCounts, QString::fromUtf8("数量"));

  TableRemoved = MakeTable(nullptr, "TableRemoved",
                           {QString::fromUtf8("类别"), QString::fromUtf8("原因"), QString::fromUtf8("名称")});
  for (const ReportRemoved& e : report_.removed) AddRow(TableRemoved, {Q(e.kind), Q(e.reason), Name(e.name)});
  Pages->addTab(TableRemoved, QString::fromUtf8("清理(%1)").arg(report_.removed.size()));

  TableRenames = MakeTable(nullptr, "TableRenames",
                           {QString::fromUtf8("类别"), QString::fromUtf8("原名"), QString::fromUtf8("新名")});
  const std::pair<const char*, const std::vector<ReportRename>*> renames[] = {
      {"帐号", &report_.accountRenames}, {"人物", &report_.characterRenames},
      {"行会", &report_.guildRenames},   {"摊位", &report_.shopRenames}};
  int renamed = 0;
  for (const auto& [label, list] : renames) {
    for (const ReportRename& r : *list) {
      const char* kind = r.hero ? "英雄" : label;
      AddRow(TableRenames, {QString::fromUtf8(kind), Name(r.oldName), Name(r.newName)});
      ++renamed;
    }
  }
  Pages->addTab(TableRenames, QString::fromUtf8("改名(%1)").arg(renamed));

  ButtonSave = new QPushButton(QString::fromUtf8("保存报告(&S)"), this);
  ButtonSave->setObjectName("ButtonSave");
  ButtonSave->setGeometry(432, 405, 75, 25);
  connect(ButtonSave, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8("保存报告"), QString(),
                                                      QString::fromUtf8("报告 (*.json)"));
    if (!path.isEmpty()) SaveReport(S(path));
  });
  auto* close = new QPushButton(QString::fromUtf8("关闭"), this);
  close->setObjectName("ButtonClose");
  close->setGeometry(519, 405, 75, 25);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

bool TPreviewDialog::SaveReport(const std::string& path) {
  try {
    WriteRunReport(path, report_);
    return true;
  } catch (const std::exception& e) {
    ShowMessageBox(this, e.what(), "提示信息");
    return false;
  }
}

}  // namespace razere::gui
