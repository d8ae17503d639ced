// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/amrrepack.h"

QStringList AmrRepack::StepArguments(int step, const QString &source, int audioIndex,
                                     const QString &sound, const QString &copy)
{
    const QStringList common{QStringLiteral("ffmpeg"),   QStringLiteral("-hide_banner"),
                             QStringLiteral("-nostdin"), QStringLiteral("-v"),
                             QStringLiteral("error"),    QStringLiteral("-y")};
    if (step == 1)
        return common +
               QStringList{QStringLiteral("-i"),           QStringLiteral("file:") + source,
                           QStringLiteral("-map"),         QStringLiteral("0:a:%1").arg(audioIndex),
                           QStringLiteral("-c:a"),         QStringLiteral("copy"),
                           QStringLiteral("-f"),           QStringLiteral("amr"),
                           QStringLiteral("file:") + sound};
    return common + QStringList{QStringLiteral("-i"),          QStringLiteral("file:") + source,
                                QStringLiteral("-f"),          QStringLiteral("amr"),
                                QStringLiteral("-i"),          QStringLiteral("file:") + sound,
                                QStringLiteral("-map"),        QStringLiteral("0:v:0"),
                                QStringLiteral("-map"),        QStringLiteral("1:a:0"),
                                QStringLiteral("-c"),          QStringLiteral("copy"),
                                QStringLiteral("-f"),          QStringLiteral("matroska"),
                                QStringLiteral("file:") + copy};
}
