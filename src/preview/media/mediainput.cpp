// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediainput.h"

#include "mediaerror.h"

#include <QFileInfo>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <mutex>

namespace {

QString AvErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

bool IsPictureOrSound(const AVCodecParameters *par)
{
    if (par->codec_id == AV_CODEC_ID_NONE)
        return false;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO)
        return true;
    // ANSI art is how libavformat reads plain text files; it is not a video.
    return par->codec_type == AVMEDIA_TYPE_VIDEO && par->codec_id != AV_CODEC_ID_ANSI;
}

} // namespace

MediaInput::MediaInput(const QString &path) : path(path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw MediaError(QStringLiteral("\"%1\" does not exist").arg(path),
                         QStringLiteral("it does not exist"));
    if (!info.isFile())
        throw MediaError(QStringLiteral("\"%1\" is not a file").arg(path),
                         QStringLiteral("it is not a file"));
    if (info.size() == 0)
        throw MediaError(QStringLiteral("\"%1\" is empty").arg(path),
                         QStringLiteral("it is empty"));
    // Damaged files make the libraries chatter on standard error; what matters reaches the
    // caller as a MediaError instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    Open();
}

MediaInput::~MediaInput()
{
    avformat_close_input(&fmt);
}

void MediaInput::Open()
{
    // The "file:" prefix keeps a colon in a file name from being read as a protocol name.
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    int rc = avformat_open_input(&fmt, url.constData(), nullptr, nullptr);
    if (rc < 0)
        throw MediaError(QStringLiteral("cannot open \"%1\": %2").arg(path, AvErrorText(rc)),
                         AvErrorText(rc));
    rc = avformat_find_stream_info(fmt, nullptr);
    if (rc < 0) {
        avformat_close_input(&fmt);
        throw MediaError(QStringLiteral("cannot read \"%1\": %2").arg(path, AvErrorText(rc)),
                         AvErrorText(rc));
    }
    try {
        CheckStreams();
    } catch (...) {
        avformat_close_input(&fmt);
        throw;
    }
}

void MediaInput::CheckStreams() const
{
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (IsPictureOrSound(fmt->streams[i]->codecpar))
            return;
    }
    throw MediaError(QStringLiteral("\"%1\" holds no video or audio").arg(path),
                     QStringLiteral("it holds no video or audio"));
}
