#include "base/ResourceStrings.h"

namespace rs {

Arg::Arg(qint64 number) : text_(QString::number(number)) {}

// One pass from left to right: an argument that itself holds "%s" (a file named so) is never
// taken for a conversion.
QString format(const char* resource, std::initializer_list<Arg> args) {
    const QString pattern = text(resource);
    QString result;
    result.reserve(pattern.size() + 32 * qsizetype(args.size()));
    auto arg = args.begin();
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c != u'%' || i + 1 == pattern.size()) {
            result += c;
            continue;
        }
        const QChar conversion = pattern[i + 1];
        if (conversion == u'%') {
            result += u'%';
            ++i;
        } else if ((conversion == u's' || conversion == u'd' || conversion == u'p') &&
                   arg != args.end()) {
            result += arg->text();
            ++arg;
            ++i;
        } else {
            result += c; // no argument left for it: stays as written
        }
    }
    return result;
}

} // namespace rs
