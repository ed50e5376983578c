#include "filectrls/FileListCaptionWidths.h"

#include "platform/FsString.h"

#include <QFontMetrics>
#include <QFontMetricsF>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Items = std::vector<TFileListModel::Item>;

// The advances of the printable ASCII characters and the kerning of every pair of them, in
// 1/64 pixel. An ASCII name's width is then the sum of its advances and of its pairs' kerning,
// rounded as QFontMetrics rounds: the figure shaping gives, at a fraction of its cost. Learning
// a font takes thousands of shapings, so it is done once per font and only for folders large
// enough to repay it. A font whose shaping is not pairwise (ligatures of three, contextual
// forms) would show on a sample of the names checked against shaping; then all are shaped.
class AsciiAdvances {
public:
    static constexpr char16_t kFirst = 0x20, kLast = 0x7E;
    static constexpr int kCount = kLast - kFirst + 1;

    static const AsciiAdvances& of(const QFont& font) {
        static std::mutex mutex;
        static std::map<QString, std::unique_ptr<const AsciiAdvances>> known;
        const std::lock_guard lock(mutex);
        std::unique_ptr<const AsciiAdvances>& table = known[font.key()];
        if (!table)
            table = std::make_unique<AsciiAdvances>(font);
        return *table;
    }

    explicit AsciiAdvances(const QFont& font) {
        const QFontMetricsF metrics(font);
        // Shaped as texts of one, so that the pairs' differences are kerning alone.
        for (int c = 0; c < kCount; ++c)
            advance_[size_t(c)] =
                qRound64(metrics.horizontalAdvance(QString(QChar(kFirst + c))) * 64);
        QString pair(2, QChar());
        for (int a = 0; a < kCount; ++a) {
            pair[0] = QChar(kFirst + a);
            for (int b = 0; b < kCount; ++b) {
                pair[1] = QChar(kFirst + b);
                kerning_[size_t(a * kCount + b)] =
                    qint32(qRound64(metrics.horizontalAdvance(pair) * 64) - advance_[size_t(a)] -
                           advance_[size_t(b)]);
            }
        }
    }

    // The width of an all-ASCII text, or -1 for any other.
    int width(QStringView text) const { return widthOf(text); }
    // The same for a name's bytes, which need no decoding when they are all ASCII.
    int width(QByteArrayView name) const { return widthOf(name); }

    // Whether the sums agree with shaping on a sample of the names.
    bool agrees(const QFont& font, const Items& items) const;

private:
    template <class Text> int widthOf(const Text& text) const {
        qint64 sum = 0;
        int previous = -1;
        for (const auto c : text) {
            const int i = int(codeOf(c)) - kFirst;
            if (i < 0 || i >= kCount)
                return -1;
            sum += advance_[size_t(i)];
            if (previous >= 0)
                sum += kerning_[size_t(previous * kCount + i)];
            previous = i;
        }
        return int((sum + 32) >> 6);
    }
    static char16_t codeOf(QChar c) { return c.unicode(); }
    static unsigned char codeOf(char c) { return static_cast<unsigned char>(c); }

    std::array<qint64, kCount> advance_{};
    std::array<qint32, kCount * kCount> kerning_{};
};

bool AsciiAdvances::agrees(const QFont& font, const Items& items) const {
    const QFontMetrics metrics(font);
    constexpr size_t kSample = 128;
    const size_t step = std::max<size_t>(1, items.size() / kSample);
    for (size_t i = 0; i < items.size(); i += step) {
        const QString caption = TFileListModel::Caption(items[i]);
        const int sum = width(caption);
        if (sum >= 0 && sum != metrics.horizontalAdvance(caption))
            return false;
    }
    return true;
}

int widestOf(const QFont& font, const AsciiAdvances* ascii, const Items& items, size_t begin,
             size_t end) {
    const QFontMetrics metrics(font);
    int widest = 0;
    for (size_t i = begin; i < end; ++i) {
        const TFileListModel::Item& item = items[i];
        const bool named = item.caption.isNull() && item.data;
        int width = !ascii  ? -1
                    : named ? ascii->width(item.data->Name)
                            : ascii->width(item.caption);
        // Most other names are UTF-8: measured as they are.
        if (width < 0) {
            const QString caption = TFileListModel::Caption(item);
            width = metrics.horizontalAdvance(
                platform::hasForeignBytes(caption) ? platform::displayName(caption) : caption);
        }
        widest = qMax(widest, width);
    }
    return widest;
}

// The widest caption. Shaping every caption of a large folder is the list style's main cost,

} // namespace

// so large lists are measured on several threads; each thread gets a font of its own (a font
// object caches its engine per thread and must not be shared while in use).
int widestCaption(const QFont& font, const Items& items) {
    constexpr size_t kPerThread = 8192;
    if (items.size() < kPerThread)
        return widestOf(font, nullptr, items, 0, items.size());
    const AsciiAdvances* ascii = &AsciiAdvances::of(font);
    if (!ascii->agrees(font, items))
        ascii = nullptr;
    const size_t threads = std::min<size_t>(
        {std::max(1u, std::thread::hardware_concurrency()), 4, items.size() / kPerThread});
    if (threads < 2)
        return widestOf(font, ascii, items, 0, items.size());
    const QString description = font.toString();
    std::vector<int> results(threads, 0);
    std::vector<std::thread> workers;
    const size_t chunk = (items.size() + threads - 1) / threads;
    for (size_t t = 1; t < threads; ++t) {
        workers.emplace_back([&, t] {
            QFont own;
            own.fromString(description);
            results[t] =
                widestOf(own, ascii, items, t * chunk, std::min(items.size(), (t + 1) * chunk));
        });
    }
    results[0] = widestOf(font, ascii, items, 0, chunk);
    for (std::thread& worker : workers)
        worker.join();
    return *std::max_element(results.begin(), results.end());
}
