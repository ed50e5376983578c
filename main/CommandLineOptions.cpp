#include "main/CommandLineOptions.h"

#include "main/CommandLine.h"

#include "platform/CodePage.h"
#include "platform/FsString.h"

#include <QCommandLineParser>

#include <algorithm>
#include <array>

namespace cli {
namespace {

// The toolkit's own options that the window takes (QGuiApplication and QApplication): they
// keep the window mode.
constexpr std::array kWindowOptionsWithValue = {"platform",
                                                "platformpluginpath",
                                                "platformtheme",
                                                "plugin",
                                                "qwindowgeometry",
                                                "qwindowicon",
                                                "qwindowtitle",
                                                "display",
                                                "geometry",
                                                "style",
                                                "stylesheet",
                                                "session",
                                                "name",
                                                "title"};
constexpr std::array kWindowFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The option name of "-x", "--x" or "-x=value"; empty for anything else.
QByteArray windowOptionName(const QByteArray& a, bool& hasValue) {
    if (!a.startsWith('-') || a.size() < 2)
        return {};
    QByteArray name = a.mid(a.startsWith("--") ? 2 : 1);
    hasValue = name.contains('=');
    return hasValue ? name.left(name.indexOf('=')) : name;
}

bool windowOption(const QByteArray& a, bool& takesNext) {
    bool hasValue = false;
    const QByteArray name = windowOptionName(a, hasValue);
    takesNext = false;
    if (name.isEmpty())
        return false;
    if (std::find(kWindowFlags.begin(), kWindowFlags.end(), name) != kWindowFlags.end())
        return !hasValue;
    if (std::find(kWindowOptionsWithValue.begin(), kWindowOptionsWithValue.end(), name) ==
        kWindowOptionsWithValue.end())
        return false;
    takesNext = !hasValue;
    return true;
}

// The code pages, wrapped under the option's text.
QByteArray codePageList() {
    const QByteArray indent(19, ' ');
    QByteArray list = indent;
    qsizetype lineStart = 0;
    for (int page : platform::supportedCodePages()) {
        if (list.size() > indent.size())
            list += ",";
        if (list.size() - lineStart > 80) {
            list += "\n" + indent;
            lineStart = list.size() - indent.size();
        } else if (list.size() > indent.size()) {
            list += ' ';
        }
        list += QByteArray::number(page);
    }
    return list + "\n";
}

// Qt's "Missing value after '--codepage'." as our complaint: lower case, no full stop.
QByteArray fromQtError(const QString& text) {
    QByteArray complaint = platform::toFsBytes(text);
    if (complaint.endsWith('.'))
        complaint.chop(1);
    if (!complaint.isEmpty())
        complaint[0] = char(QChar::toLower(ushort(uchar(complaint[0]))));
    return complaint;
}

// A complaint is one line: control characters of an argument quoted in it are written as
// escapes (\n, \x1b), so an argument cannot add lines of its own to the error output.
QByteArray oneLine(const QByteArray& complaint) {
    QByteArray out;
    out.reserve(complaint.size());
    for (const char c : complaint) {
        const auto u = uchar(c);
        if (c == '\n')
            out += "\\n";
        else if (u < 0x20 || u == 0x7F)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

QByteArray parseArguments(const QList<QByteArray>& arguments, Options& options);

} // namespace

QByteArray parse(const QList<QByteArray>& arguments, Options& options) {
    return oneLine(parseArguments(arguments, options));
}

bool isCommandLine(const QList<QByteArray>& arguments) {
    int positional = 0;
    bool onlyNames = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& a = arguments[i];
        bool takesNext = false;
        if (onlyNames || !a.startsWith('-') || a == "-") {
            if (a.isEmpty())
                return true; // bad usage, refused without a display
            ++positional;
        } else if (a == "--") {
            onlyNames = true;
        } else if (windowOption(a, takesNext)) {
            i += takesNext ? 1 : 0;
        } else {
            return true; // ours, or unknown
        }
    }
    return positional > 1;
}

namespace {

// Our options, and Qt's parser that knows them.
struct OptionParser {
    QCommandLineParser parser;
    const QCommandLineOption write{QStringLiteral("write")};
    const QCommandLineOption toStdout{QStringLiteral("stdout")};
    const QCommandLineOption recursive{
        QStringList{QStringLiteral("r"), QStringLiteral("recursive")}};
    const QCommandLineOption empty{QStringLiteral("empty")};
    const QCommandLineOption codePage{QStringLiteral("codepage"), QString(), QStringLiteral("N")};
    const QCommandLineOption charset{QStringLiteral("charset"), QString(), QStringLiteral("NAME")};
    const QCommandLineOption watch{QStringLiteral("watch")};
    const QCommandLineOption escapeHtml{QStringLiteral("escape-html")};
    const QCommandLineOption quiet{QStringList{QStringLiteral("q"), QStringLiteral("quiet")}};
    const QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    const QCommandLineOption version{QStringLiteral("version")};

    OptionParser() {
        parser.addOptions({write, toStdout, recursive, empty, codePage, charset, watch, escapeHtml,
                           quiet, help, version});
    }
};

// The complaint about what Qt's parser refused.
QByteArray parseError(const QCommandLineParser& parser, const QList<QByteArray>& arguments) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return fromQtError(parser.errorText());
    // As it was written: "--writ" or, within "-xr", "-x".
    const QByteArray name = platform::toFsBytes(unknown.first());
    const bool long_ = std::any_of(arguments.begin(), arguments.end(), [&](const auto& a) {
        return a == "--" + name || a.startsWith("--" + name + "=");
    });
    return "unknown option '" + QByteArray(long_ ? "--" : "-") + name + "'";
}

void readOptions(const OptionParser& p, Options& options) {
    options.help = p.parser.isSet(p.help);
    options.version = p.parser.isSet(p.version);
    options.recursive = p.parser.isSet(p.recursive);
    options.empty = p.parser.isSet(p.empty);
    options.toStdout = p.parser.isSet(p.toStdout);
    options.watch = p.parser.isSet(p.watch);
    options.escapeHtml = p.parser.isSet(p.escapeHtml);
    options.quiet = p.parser.isSet(p.quiet);
    options.write = p.parser.isSet(p.write) || options.recursive || options.empty ||
                    options.toStdout || options.watch || options.escapeHtml || options.quiet ||
                    p.parser.isSet(p.codePage) || p.parser.isSet(p.charset);
    for (const QString& dir : p.parser.positionalArguments())
        options.dirs.append(platform::toFsBytes(dir));
}

// Reads the code page and checks that the options go together: the complaint, or empty.
QByteArray checkUsage(const OptionParser& p, Options& options) {
    if (p.parser.isSet(p.codePage)) {
        const QString value = p.parser.value(p.codePage);
        bool ok = false;
        options.codePage = value.toInt(&ok);
        if (!ok || !platform::isSupportedCodePage(options.codePage))
            return "unknown code page '" + platform::toFsBytes(value) + "'";
    }
    if (p.parser.isSet(p.charset)) {
        const QByteArray value = platform::toFsBytes(p.parser.value(p.charset));
        options.charset = platform::codePageForCharset(value);
        if (options.charset == 0)
            return "unknown charset '" + value +
                   "' (one of: " + platform::charsetNames().join(", ") + ")";
    }
    if (std::any_of(options.dirs.begin(), options.dirs.end(),
                    [](const QByteArray& d) { return d.isEmpty(); }))
        return "a folder name cannot be empty ('')";
    if (!options.write) {
        if (options.dirs.size() > 1)
            return "the window opens one folder; extra argument '" + options.dirs[1] + "'";
        return "nothing to do: give --write DIR...";
    }
    if (options.dirs.isEmpty())
        return "no folder given: docindex --write DIR...";
    if (options.toStdout && (options.dirs.size() != 1 || options.recursive || options.watch))
        return "--stdout prints the page of one folder only (not with --recursive or --watch)";
    return {};
}

QByteArray parseArguments(const QList<QByteArray>& arguments, Options& options) {
    OptionParser p;
    // Through the file-system decoding, so that every name comes back byte for byte.
    QStringList wide{QStringLiteral("docindex")};
    for (const QByteArray& a : arguments)
        wide.append(platform::fromFsBytes(a));
    if (!p.parser.parse(wide))
        return parseError(p.parser, arguments);
    readOptions(p, options);
    if (options.help || options.version)
        return {};
    return checkUsage(p, options);
}

} // namespace

QByteArray helpText() {
    return "Usage: docindex [OPTION]... DIR...\n"
           "       docindex [FOLDER]\n"
           "Writes DIR/index.htm for each folder DIR, exactly as the window's button does: a\n"
           "table with a numbered link per document (*_.txt) whose caption is the document's\n"
           "text. Any option below selects this. Without options docindex opens its window at\n"
           "FOLDER (made absolute; at worst its deepest existing ancestor), else at its\n"
           "design-time folder.\n"
           "\n"
           "  --write          write the index page of each DIR (what any option does)\n"
           "                     docindex --write ~/docs ~/more\n"
           "  -r, --recursive  also every folder below each DIR, each its own page (symbolic\n"
           "                   links to folders are not followed, hidden folders are skipped);\n"
           "                   a folder without documents then gets no page unless --empty\n"
           "                     docindex -r ~/docs\n"
           "  --empty          with --recursive, write pages for folders without documents too\n"
           "                     docindex -r --empty ~/docs\n"
           "  --stdout         print the page instead of writing it (one DIR only)\n"
           "                     docindex --stdout ~/docs > /tmp/page.htm\n"
           "  --codepage N     read documents that are not UTF-8 in code page N and write the\n"
           "                   page in it, instead of the code page of the locale:\n" +
           codePageList() +
           "                     docindex --codepage 1251 ~/docs\n"
           "  --charset NAME   write the page in charset NAME instead of that code page:\n"
           "                   utf-8, or a code page's name (windows-1250 ... windows-1258,\n"
           "                   windows-874, shift_jis, gbk, euc-kr, big5); the page says so\n"
           "                     docindex --charset utf-8 /srv/www/docs\n"
           "  --escape-html    write '<', '>' and '&' in the title and the captions as\n"
           "                   &lt; &gt; &amp; (for documents that are not trusted)\n"
           "                     docindex --escape-html /srv/www/docs\n"
           "  --watch          write the pages, then keep them current: a folder's page is\n"
           "                   written again shortly after a document in it changes (with -r\n"
           "                   new subfolders are watched too), until SIGINT or SIGTERM;\n"
           "                   SIGHUP writes every page again\n"
           "                     docindex --watch -r /srv/www/docs\n"
           "  -q, --quiet      print nothing but errors\n"
           "                     docindex -q -r ~/docs\n"
           "  -h, --help       show this help and exit\n"
           "                     docindex --help\n"
           "  --version        show the version and exit\n"
           "                     docindex --version\n"
           "\n"
           "Each page written prints one line (DIR/index.htm: N documents); with -r and a\n"
           "terminal, stderr shows a running count of folders and documents.\n"
           "\n"
           "Exit status:\n"
           "  0  every page was written (and --watch ended by SIGINT or SIGTERM)\n"
           "  1  some folder failed, or the window could not start\n"
           "  2  bad usage\n";
}

} // namespace cli
