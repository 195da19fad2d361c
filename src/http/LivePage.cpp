#include "LivePage.h"

#include <QFile>

// Resources of a static library are registered by hand.
static void registerPageResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(http);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

QByteArray resource(const QString& name)
{
    registerPageResources();
    QFile file(QStringLiteral(":/http/page/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray escaped(const QString& text)
{
    return text.toHtmlEscaped().replace(u'"', QStringLiteral("&quot;")).toUtf8();
}

struct Caption
{
    const char* name;
    const char* italian;
    const char* english;
};

const Caption kCaptions[] = {
    {"lang", "it", "en"},
    {"title", "QuorinDriverServer - stato del registratore",
     "QuorinDriverServer - register status"},
    {"state", "Stato", "State"},
    {"error", "Errore", "Error"},
    {"receipt", "Ultimo scontrino", "Last receipt"},
    {"waiting", "File in attesa", "Files waiting"},
    {"verdicts", "Ultimi esiti", "Last verdicts"},
    {"time", "Ora", "Time"},
    {"file", "File", "File"},
    {"outcome", "Esito", "Outcome"},
    {"row", "Riga", "Row"},
    {"sent", "inviato", "sent"},
    {"failed", "non inviato", "failed"},
    {"none", "nessuno", "none"},
    {"lost", "Collegamento con il programma interrotto: nuovo tentativo...",
     "Connection to the program lost: trying again..."},
    {"notoken", "Manca il token: aprire la pagina dal menu File del programma.",
     "No token: open the page from the program's File menu."},
    {"badtoken", "Il token non e' valido: aprire la pagina dal menu File del programma.",
     "The token is not valid: open the page from the program's File menu."},
};

} // namespace

std::optional<LivePageFile> livePageFile(const QString& path, int languageOffset)
{
    if (path == u"/page.js")
        return LivePageFile{resource(QStringLiteral("page.js")), "text/javascript; charset=utf-8"};
    if (path == u"/page.css")
        return LivePageFile{resource(QStringLiteral("page.css")), "text/css; charset=utf-8"};
    if (path != u"/" && path != u"/index.html")
        return std::nullopt;
    QByteArray html = resource(QStringLiteral("index.html"));
    for (const Caption& c : kCaptions)
        html.replace("{{" + QByteArray(c.name) + "}}",
                     escaped(QString::fromUtf8(languageOffset == 0 ? c.italian : c.english)));
    return LivePageFile{html, "text/html; charset=utf-8"};
}
