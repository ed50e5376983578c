#include "main/Progress.h"

namespace cli {

Progress::Progress(std::FILE* stream, bool shown, Clock clock)
    : stream_(stream), shown_(shown), clock_(std::move(clock)) {}

Progress::~Progress() {
    clear();
}

void Progress::addFolder(int documents) {
    ++folders_;
    documents_ += documents;
    if (!shown_)
        return;
    const auto now = clock_();
    if (everDrawn_ && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    everDrawn_ = true;
    const QByteArray line =
        "\r\033[K" + QByteArray::number(folders_) + (folders_ == 1 ? " folder, " : " folders, ") +
        QByteArray::number(documents_) + (documents_ == 1 ? " document" : " documents");
    std::fwrite(line.constData(), 1, size_t(line.size()), stream_);
    std::fflush(stream_);
    drawn_ = true;
}

void Progress::clear() {
    if (!drawn_)
        return;
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
    drawn_ = false;
}

} // namespace cli
