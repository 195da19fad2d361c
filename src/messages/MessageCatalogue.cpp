#include "MessageCatalogue.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace {

struct Entry
{
    int id;
    const char16_t* text;
};

// Italian texts below 1000; the English text of Italian id N, where there is one, is N + 1000.
// Leading and trailing blanks, and the spelling, are part of the texts.
constexpr Entry kCatalogue[] = {
    {1, u"Non trovato"},
    {2, u"Errore: non definito"},
    {3, u"Valore inferiore al limite"},
    {4, u"Numero cifre inferiore al limite"},
    {5, u"Valore superiore al limite"},
    {6, u"Numero cifre superiore al limite"},
    {7, u"Errore di sequenza"},
    {8, u"Numero cifre errato"},
    {9, u"Stato errato"},
    {10, u"Tasto non consentito"},
    {11, u"Errore input"},
    {12, u"Prezzo decimale"},
    {13, u"Numero cifre inferiore al limite"},
    {14, u"Numero cifre superiore al limite"},
    {15, u"Numero cifre superiore al limite"},
    {16, u"Errore comp. stati"},
    {17, u"Errore generico"},
    {18, u"Uscita forzata"},
    {19, u"Codice non valido"},
    {20, u"Superamento glob. giornaliero"},
    {21, u"Superato importo massimo"},
    {22, u"Superato codice"},
    {23, u"Superato valore massimo"},
    {24, u"Valore inferiore al limite"},
    {25, u"Superato prezzo massimo"},
    {26, u"Prezzo inferiore al limite"},
    {27, u"Subtotale disabilitato"},
    {28, u"Operazione non consentita"},
    {29, u"Errore di stato"},
    {30, u"Buffer overflow"},
    {31, u"Valore decimale"},
    {32, u"Subtotale negativo"},
    {33, u"Importo obbligatorio"},
    {34, u"Subtotale obbligatorio"},
    {35, u"Resto disabilitato"},
    {36, u"Codice Fiscale errato"},
    {37, u"Codice Iva errato"},
    {38, u"Valore Storno non consentito"},
    {39, u"Valore reso non consentito"},
    {40, u"Errore posizione chiave"},
    {41, u"Apertura scontrino disabilitata"},
    {42, u"Errore posizione chiave"},
    {43, u"Operatore disabilitato"},
    {44, u"Errore nella conversione delle valute"},
    {45, u"Nessun movimento Iva"},
    {46, u"Non consentito"},
    {47, u"Non fiscale"},
    {48, u"Errore logo fiscale"},
    {49, u"M.F. assente"},
    {70, u"Errore generico"},
    {71, u"Errore generico"},
    {72, u"Errore generico"},
    {73, u"Errore generico"},
    {74, u"Errore generico"},
    {75, u"Errore generico"},
    {76, u"Errore generico"},
    {77, u"Errore generico"},
    {78, u"Errore generico"},
    {79, u"Errore generico"},
    {100, u"Dati assenti"},
    {101, u"Data/ora non valida"},
    {102, u"Azzeramento fiscale non eseguito"},
    {103, u"Il coperchio della stampante \u00E8 aperto"},
    {104, u"Fine carta"},
    {105, u"Errore generico"},
    {106, u"Errore generico"},
    {107, u"Errore generico"},
    {108, u"Errore generico"},
    {109, u"Errore generico"},
    {110, u"Errore generico"},
    {111, u"Errore generico"},
    {112, u"Errore generico"},
    {113, u"Errore generico"},
    {114, u"Errore generico"},
    {115, u"Errore generico"},
    {200, u"Checksum errato"},
    {201, u"Errore nella lunghezza dati"},
    {202, u"Dati non validi"},
    {203, u"Errore porta seriale"},
    {204, u"Timeout scaduto"},
    {205, u"Errore generico"},
    {206, u"Errore generico"},
    {207, u"M.C. non bianca"},
    {208, u"GI.EL. assente"},
    {209, u"GI.EL. checksum errato"},
    {501, u"Nascondi"},
    {502, u"Stato: "},
    {503, u"Errore: "},
    {504, u"Ultimo Scontrino "},
    {505, u"Ora "},
    {506, u"Numero "},
    {507, u"Personalizza... "},
    {508, u"Invia... "},
    {509, u"Esci "},
    {510, u"Registratore di cassa QUORIN su "},
    {511, u"Tipo File "},
    {512, u"Posizione"},
    {513, u"File comandi"},
    {514, u"File non inviati"},
    {515, u"Modifica posizione del file comandi"},
    {516, u"Modifica posizione degli scontrini non inviati"},
    {520, u"Personalizza"},
    {521, u"Lingua "},
    {522, u"Frequenza "},
    {523, u"Dimensione massima log "},
    {524, u"Parametri di trasmissione "},
    {525, u"Porta Seriale "},
    {526, u"Velocit\u00E0 di trasmissione "},
    {527, u"Cartelle predefinite "},
    {528, u"Modifica..."},
    {529, u"Ok"},
    {530, u"Annulla"},
    {550, u"Questo programma \u00E8 gi\u00E0 stato caricato."},
    {551, u"Impossibile caricare il programma gestione cassa."},
    {552, u"Impossibile aprire il file di LOG su disco fisso"},
    {553, u"Impossibile inviare scontrino al registratore di cassa."},
    {554, u"La stampante \u00E8 pronta"},
    {555, u"Il coperchio \u00E8 aperto"},
    {556, u"Il coperchio \u00E8 stato richiuso"},
    {557, u"Il rotolo carta \u00E8 terminato"},
    {558, u"Il rotolo carta \u00E8 stato sostituito"},
    {559, u"La stampante \u00E8 occupata"},
    {561, u"Tentativo di accesso a device chiuso"},
    {566, u"Operazione non consentita"},
    {571, u"Impossibile eseguire il comando"},
    {572, u"La stampante non risponde"},
    {573, u"Impossibile eseguire il comando mentre la stampante \u00E8 occupata"},
    {574, u"Errore esteso"},
    {575, u"Valore inesistente"},
    {581, u"Il coperchio \u00E8 aperto"},
    {583, u"Il rotolo carta \u00E8 terminato"},
    {584, u"La stampante non \u00E8 nello stato corretto"},
    {585, u"Il valore della quantit\u00E0 non \u00E8 valido"},
    {586, u"L'importo non \u00E8 valido"},
    {587, u"La descrizione non \u00E8 valida"},
    {588, u"Il totale dello scontrino supera il limite"},
    {589, u"L'aliquota Iva non \u00E8 valida"},
    {590, u"Il prezzo non \u00E8 valido"},
    {591, u"La data non \u00E8 consentita"},
    {801, u"GI.EL. in esaurimento"},
    {802, u"Errore generico"},
    {803, u"MF in esaurimento"},
    {804, u"Errore generico"},
    {901, u"GI.EL. esaurito"},
    {902, u"Errore GI.EL. dati"},
    {903, u"Errore generico"},
    {904, u"Errore generico"},
    {905, u"MF esaurita"},
    {906, u"Errore lettura MF"},
    {907, u"Errore in scrittura MF"},
    {908, u"N. init esaurito"},
    {909, u"Errore dati MF"},
    {1501, u"Hide"},
    {1502, u"State: "},
    {1503, u"Error: "},
    {1504, u"Last Ticket"},
    {1505, u"Time "},
    {1506, u"Number "},
    {1507, u"Configure..."},
    {1508, u"Send..."},
    {1509, u"Exit"},
    {1510, u"Cash Register QUORIN on "},
    {1511, u"File type "},
    {1512, u"Position"},
    {1513, u"Command files"},
    {1514, u"Unsent files"},
    {1515, u"Change position command files"},
    {1516, u"Change position unsent tickets"},
    {1520, u"Configure"},
    {1521, u"Language"},
    {1522, u"Frequence "},
    {1523, u"Maximum log size "},
    {1524, u"Trasmission parameters"},
    {1525, u"Serial port"},
    {1526, u"Port Speed"},
    {1527, u"Predefined folder"},
    {1528, u"Change..."},
    {1529, u"Ok"},
    {1530, u"Cancel"},
    {1550, u"Questo programma \u00E8 gi\u00E0 stato caricato"},
    {1551, u"Impossibile caricare il programma gestione cassa."},
    {1552, u"Impossibile aprire il file di LOG su disco fisso"},
    {1553, u"Impossibile inviare scontrino al registratore di cassa."},
    {1554, u"Idle"},
    {1555, u"The printer cover is open"},
    {1556, u"The printer cover has been closed"},
    {1557, u"The receipt station has run out of paper"},
    {1558, u"The receipt paper ok"},
    {1559, u"The printer is busy"},
    {1561, u"Attempt was made to access a closed device"},
    {1566, u"Attempt was made to perform an unsupported operation"},
    {1571, u"Cannot perform the request operation"},
    {1572, u"Timeout waiting fo a response"},
    {1573, u"Cannot perform while output is in progress"},
    {1574, u"Specific error condition"},
    {1575, u"The value does not exist"},
    {1581, u"The printer cover is open"},
    {1583, u"The receipt station is out of paper"},
    {1584, u"The requested operation could not be executed in the printer's current state"},
    {1585, u"The quantity parameter is invalid"},
    {1586, u"The amount parameter is invalid"},
    {1587, u"The description parameter is invalid"},
    {1588, u"The receipt total has overflowed"},
    {1589, u"The VAT parameter is invalid"},
    {1590, u"The price parameter is invalid"},
    {1591, u"The date parameter is invalid"},
};

static_assert(std::is_sorted(std::begin(kCatalogue), std::end(kCatalogue),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }));

} // namespace

std::optional<QString> MessageText(int id)
{
    const auto it = std::lower_bound(std::begin(kCatalogue), std::end(kCatalogue), id,
                                     [](const Entry& e, int value) { return e.id < value; });
    if (it == std::end(kCatalogue) || it->id != id)
        return std::nullopt;
    return QString::fromUtf16(it->text);
}

QString LocalisedText(int languageOffset, int id)
{
    return MessageText(languageOffset + id).value_or(QString());
}

QString ResultCodeText(int languageOffset, int code)
{
    auto isBlank = [](const std::optional<QString>& t) { return !t || t->trimmed().isEmpty(); };
    std::optional<QString> text = MessageText(languageOffset + code);
    if (isBlank(text))
        text = MessageText(code);
    if (isBlank(text))
        text = MessageText(languageOffset + kGenericErrorId);
    if (isBlank(text))
        text = MessageText(kGenericErrorId);
    return text.value_or(QString());
}

int MessageCatalogueSize()
{
    return static_cast<int>(std::size(kCatalogue));
}
