#include "filectrls/FileListCaptionWidths.h"

#include "platform/FsString.h"

#include <QFontMetrics>
#include <QFontMetricsF>

#include <algorithm>
#include <array>
#include <bitset>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Items = std::vector<TFileListModel::Item>;

// The advances of the printable ASCII characters and the kerning of pairs of them, in 1/64
// pixel. An ASCII name's width is then the sum of its advances and of its pairs' kerning,
// rounded as QFontMetrics rounds: the figure shaping gives, at a fraction of its cost. A pair
// takes a shaping to learn, so a font's table learns the pairs its folders' names have, not
// all 9,025 (thousands of shapings, a noticeable part of the start at a large folder); it is
// kept per font and grows by copy, so that a table being read is never written. A font whose
// shaping is not pairwise (ligatures of three, contextual forms) would show on a sample of the
// names checked against shaping; then all are shaped.
class AsciiAdvances {
public:
    static constexpr char16_t kFirst = 0x20, kLast = 0x7E;
    static constexpr int kCount = kLast - kFirst + 1;
    using Pairs = std::bitset<kCount * kCount>;

    // The font's table, knowing at least every pair the items' ASCII captions have.
    static std::shared_ptr<const AsciiAdvances> of(const QFont& font, const Items& items) {
        static std::mutex mutex;
        static std::map<QString, std::shared_ptr<const AsciiAdvances>> known;
        const Pairs wanted = pairsOf(items);
        const std::lock_guard lock(mutex);
        std::shared_ptr<const AsciiAdvances>& table = known[font.key()];
        if (!table)
            table = std::make_shared<const AsciiAdvances>(font);
        const Pairs missing = wanted & ~table->learned_;
        if (missing.any()) {
            auto grown = std::make_shared<AsciiAdvances>(*table);
            grown->learn(font, missing);
            table = std::move(grown);
        }
        return table;
    }

    explicit AsciiAdvances(const QFont& font) {
        const QFontMetricsF metrics(font);
        // Shaped as texts of one, so that the pairs' differences are kerning alone.
        for (int c = 0; c < kCount; ++c)
            advance_[size_t(c)] =
                qRound64(metrics.horizontalAdvance(QString(QChar(kFirst + c))) * 64);
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
        const bool ascii = walk(text, [&](int character, int pair) {
            sum += advance_[size_t(character)] + (pair >= 0 ? kerning_[size_t(pair)] : 0);
        });
        return ascii ? int((sum + 32) >> 6) : -1;
    }
    // Visits the characters of a printable-ASCII text as their indexes, each with the index of
    // the pair it ends (-1 for the first); false at the first other character, where it stops.
    template <class Text, class Visit> static bool walk(const Text& text, Visit visit) {
        int previous = -1;
        for (const auto c : text) {
            const int i = int(codeOf(c)) - kFirst;
            if (i < 0 || i >= kCount)
                return false;
            visit(i, previous >= 0 ? previous * kCount + i : -1);
            previous = i;
        }
        return true;
    }
    static char16_t codeOf(QChar c) { return c.unicode(); }
    static unsigned char codeOf(char c) { return static_cast<unsigned char>(c); }

    // The pairs of printable ASCII characters the captions' widths will add up: those before
    // each caption's first other character, after which the sum is given up.
    static Pairs pairsOf(const Items& items) {
        Pairs pairs;
        const auto mark = [&pairs](int, int pair) {
            if (pair >= 0)
                pairs.set(size_t(pair));
        };
        for (const TFileListModel::Item& item : items) {
            if (item.caption.isNull() && item.data)
                walk(QByteArrayView(item.data->Name), mark);
            else
                walk(QStringView(item.caption), mark);
        }
        return pairs;
    }

    void learn(const QFont& font, const Pairs& pairs) {
        const QFontMetricsF metrics(font);
        QString pair(2, QChar());
        for (size_t p = 0; p < pairs.size(); ++p) {
            if (!pairs.test(p))
                continue;
            const size_t a = p / kCount, b = p % kCount;
            pair[0] = QChar(kFirst + int(a));
            pair[1] = QChar(kFirst + int(b));
            kerning_[p] =
                qint32(qRound64(metrics.horizontalAdvance(pair) * 64) - advance_[a] - advance_[b]);
        }
        learned_ |= pairs;
    }

    std::array<qint64, kCount> advance_{};
    std::array<qint32, kCount * kCount> kerning_{};
    Pairs learned_;
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
    const std::shared_ptr<const AsciiAdvances> table = AsciiAdvances::of(font, items);
    const AsciiAdvances* ascii = table.get();
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
