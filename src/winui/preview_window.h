// The preview dialog of the Windows window: the model's three tables, each a
// report-style list view on its own tab, and 保存报告 through the save dialog.
#pragma once

#include "app/run_report.h"
#include "winui/win_util.h"

namespace razere::winui {

// Opens a preview of report, owned by owner (not modal); it frees itself
// when closed.
void OpenPreview(HWND owner, const RunReport& report);

}  // namespace razere::winui
