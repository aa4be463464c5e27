#include "gui/preview_dialog.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include "gui/widgets.h"
#include "window/window_model.h"

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

}  // namespace

TPreviewDialog::TPreviewDialog(QWidget* owner, RunReport report)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), report_(std::move(report)) {
  setObjectName("FrmPreview");
  setWindowTitle(QString::fromUtf8(window::kPreviewCaption));
  setFont(WindowFont());
  setFixedSize(602, 441);

  Pages = new QTabWidget(this);
  Pages->setObjectName("PagePreview");
  Pages->setGeometry(8, 8, 586, 389);

  // The tables of the model, in its order: counts, removals, renames.
  QTableWidget** tables[] = {&TableCounts, &TableRemoved, &TableRenames};
  const char* names[] = {"TableCounts", "TableRemoved", "TableRenames"};
  const std::vector<window::PreviewTable> model = window::PreviewTables(report_);
  for (size_t t = 0; t < model.size() && t < 3; ++t) {
    QStringList headers;
    for (const std::string& h : model[t].headers) headers << Q(h);
    QTableWidget* table = MakeTable(nullptr, names[t], headers);
    for (const auto& row : model[t].rows) {
      QStringList cells;
      for (const std::string& c : row) cells << Q(c);
      AddRow(table, cells);
    }
    *tables[t] = table;
    Pages->addTab(table, Q(model[t].caption));
  }

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
  const std::string error = window::SavePreviewReport(report_, path);
  if (error.empty()) return true;
  ShowMessageBox(this, error, kCaption);
  return false;
}

}  // namespace razere::gui
