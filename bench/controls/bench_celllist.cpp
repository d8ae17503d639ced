// SPDX-License-Identifier: GPL-3.0-or-later
// Prints what painting the task list costs: a full screenful with 100,000 rows, and one
// progress cell repainted after InvalidateCells, the path every progress step takes.
#include "cellinfoowner.h"
#include "celllistctrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Formats its cells afresh on every request, as the page does.
class FormattingOwner : public ICellInfoOwner
{
public:
    long requests = 0;
    void OnGetCellInfo(CellInfo &info) override
    {
        ++requests;
        const int row = info.row;
        switch (info.column) {
        case 0:
            info.text = QStringLiteral("/home/user/Videos/holiday clip %1 & friends.avi").arg(row);
            break;
        case 1:
            info.text = QStringLiteral("00:00:%1").arg(row % 60, 2, 10, QLatin1Char('0'));
            break;
        case 2:
            info.text = QStringLiteral("00:%1:00").arg(row % 60, 2, 10, QLatin1Char('0'));
            break;
        case 3:
            info.text = QStringLiteral("holiday clip %1.3gp").arg(row);
            break;
        default:
            info.progressRange = 100;
            info.progressPos = row % 101;
            info.text = QStringLiteral("%1% 25.0 fps 1024 KB").arg(row % 101);
            break;
        }
    }
};

struct Figures {
    double median;
    double best;
};

template <typename F> Figures Measure(int runs, F work)
{
    std::vector<double> ms;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        work(i);
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CCellListCtrl list;
    FormattingOwner owner;
    list.SetOwner(&owner);
    const char *headers[] = {"Source", "Begin Time", "End Time", "Output", "Progress"};
    const int widths[] = {220, 70, 70, 80, 150};
    for (int i = 0; i < 5; ++i)
        list.InsertColumn(i, headers[i], widths[i]);
    list.SetExtendedStyle(LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    list.SetShowSelectionAlways(true);
    list.SetItemCount(100000);
    list.resize(605, 160);
    list.show();
    list.verticalScrollBar()->setValue(50000);
    list.SetItemState(50002, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    QApplication::processEvents();

    const int visible = list.GetCountPerPage() + 1;
    owner.requests = 0;
    const int runs = 300;
    const Figures full = Measure(runs, [&](int) { list.viewport()->repaint(); });
    std::printf("full repaint, 100000 rows, %d rows x 5 columns visible: median %.3f ms, "
                "best %.3f ms (%ld owner requests per repaint)\n",
                visible, full.median, full.best, owner.requests / runs);

    const int row = list.GetTopIndex() + 2;
    owner.requests = 0;
    const Figures cell = Measure(runs, [&](int) {
        list.InvalidateCells(row, row, 4, false);
        QApplication::processEvents();
    });
    std::printf("InvalidateCells(row, row, 4) + repaint of one progress cell: median %.3f ms, "
                "best %.3f ms (%ld owner requests per step)\n",
                cell.median, cell.best, owner.requests / runs);
    // "--save file.png" keeps a picture of the screenful for a look by eye.
    const QStringList args = QCoreApplication::arguments();
    const qsizetype save = args.indexOf(QStringLiteral("--save"));
    if (save > 0 && save + 1 < args.size())
        list.grab().save(args.at(save + 1));
    return 0;
}
