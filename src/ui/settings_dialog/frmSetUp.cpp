#include "frmSetUp.h"

#include "messages/MessageCatalogue.h"
#include "messages/MessageIds.h"
#include "settings_dialog/SetUpChoices.h"
#include "ui/widgets/Captions.h"
#include "ui/widgets/FitText.h"
#include "ui/widgets/Twips.h"
#include "ui/widgets/UserDialogs.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTreeWidget>

frmSetUp::frmSetUp(Settings settings, QString programFolder, UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_settings(std::move(settings)), m_programFolder(std::move(programFolder)), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmSetUp"));
    buildControls();
    Form_Load();
}

void frmSetUp::buildControls()
{
    const Twips tw(this);
    const QRect client = tw.rect(0, 0, 4125, 5550);
    setFixedSize(client.size());
    QFont small = font();
    small.setPointSizeF(8);
    setFont(small);

    auto frame = [&](const char* name, QRect place) {
        auto* f = new QGroupBox(this);
        f->setObjectName(QLatin1String(name));
        f->setGeometry(place);
        return f;
    };
    auto label = [&](QWidget* parent, const QString& name, QRect place, Qt::Alignment align,
                     const QString& text = QString()) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(name);
        l->setGeometry(place);
        l->setAlignment(align | Qt::AlignVCenter);
        return l;
    };
    auto combo = [&](QWidget* parent, const char* name, QRect place, const QStringList& items) {
        auto* c = new QComboBox(parent);
        c->setObjectName(QLatin1String(name));
        c->setGeometry(place);
        c->setEditable(false);
        c->addItems(items);
        c->setCurrentIndex(-1);
        return c;
    };
    auto button = [&](QWidget* parent, const char* name, QRect place) {
        auto* b = new QPushButton(parent);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(place);
        b->setAutoDefault(false);
        return b;
    };
    const Qt::Alignment right = Qt::AlignRight;

    Frame3 = frame("Frame3", tw.rect(120, 0, 3855, 1455));
    lblLingua = label(Frame3, "lblLingua", tw.rect(480, 360, 1335, 255), right);
    lblFrequenza = label(Frame3, "lblFrequenza", tw.rect(120, 720, 1695, 255), right);
    lblLog = label(Frame3, "lblLog", tw.rect(40, 1080, 1815, 255), right);
    cmbLingua = combo(Frame3, "cmbLingua", tw.rect(1860, 240, 1095, 315), {});
    cmbFrequenza = combo(Frame3, "cmbFrequenza", tw.rect(1860, 600, 1095, 315), {});
    cmbLog = combo(Frame3, "cmbLog", tw.rect(1860, 960, 1095, 315), {});
    Label7 = label(Frame3, "Label7", tw.rect(3000, 720, 615, 255), Qt::AlignLeft,
                   QStringLiteral("sec."));
    Label8 = label(Frame3, "Label8", tw.rect(3000, 1080, 615, 255), Qt::AlignLeft,
                   QStringLiteral("KBytes"));

    fParametri = frame("fParametri", tw.rect(120, 1560, 3855, 1455));
    lblPorta = label(fParametri, "lblPorta", tw.rect(480, 360, 1335, 255), right);
    lblVelocita =
        label(fParametri, QStringLiteral("lblVelocità"), tw.rect(120, 720, 1695, 255), right);
    cmbPorta = combo(fParametri, "cmbPorta", tw.rect(1860, 240, 1095, 315), {});
    cmbBaud = combo(fParametri, "cmbBaud", tw.rect(1860, 600, 1095, 315), {});
    Label3 = label(fParametri, "Label3", tw.rect(3000, 720, 615, 255), Qt::AlignLeft,
                   QStringLiteral("bits/sec"));

    fCartelle = frame("fCartelle", tw.rect(120, 3120, 3855, 1695));
    lstCartelle = new QTreeWidget(fCartelle);
    lstCartelle->setObjectName(QStringLiteral("lstCartelle"));
    lstCartelle->setGeometry(tw.rect(120, 240, 3615, 975));
    lstCartelle->setRootIsDecorated(false);
    lstCartelle->setColumnCount(2);
    lstCartelle->setSelectionMode(QAbstractItemView::SingleSelection);
    lstCartelle->header()->setStretchLastSection(false);
    cmdModifica = button(fCartelle, "cmdModifica", tw.rect(2640, 1280, 1095, 315));

    cmdOk = button(this, "cmdOk", tw.rect(840, 4920, 975, 495));
    cmdAnnulla = button(this, "cmdAnnulla", tw.rect(2280, 4920, 975, 495));

    connect(cmdOk, &QPushButton::clicked, this, &frmSetUp::cmdOk_Click);
    connect(cmdAnnulla, &QPushButton::clicked, this, &frmSetUp::cmdAnnulla_Click);
    connect(cmdModifica, &QPushButton::clicked, this, &frmSetUp::cmdModifica_Click);

    QWidget* order[] = {cmbLingua,   cmbFrequenza, cmbLog, cmbPorta,  cmbBaud,
                        lstCartelle, cmdModifica,  cmdOk,  cmdAnnulla};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void frmSetUp::LoadCaptions()
{
    applyCaptions(this, setUpDialogCaptions(), m_settings.languageOffset());
}

void frmSetUp::Form_Load()
{
    using namespace SetUpChoices;
    LoadCaptions();
    cmbPorta->addItems(portItems());
    cmbPorta->setCurrentIndex(portIndex(m_settings.Port));
    cmbBaud->addItems(baudItems());
    cmbBaud->setCurrentIndex(baudIndex(m_settings.BaudRate));
    cmbLingua->addItems(languageItems());
    cmbLingua->setCurrentIndex(languageIndex(m_settings.Language));
    cmbFrequenza->addItems(frequencyItems());
    cmbFrequenza->setCurrentIndex(frequencyIndex(m_settings.Frequence));
    cmbLog->addItems(logItems());
    cmbLog->setCurrentIndex(logIndex(m_settings.MaxLogDimension));

    const int offset = m_settings.languageOffset();
    lstCartelle->setHeaderLabels({LocalisedText(offset, MessageId::FolderColumnName),
                                  LocalisedText(offset, MessageId::FolderColumnPath)});
    new QTreeWidgetItem(lstCartelle, {LocalisedText(offset, MessageId::InputFolderRow), QString()});
    new QTreeWidgetItem(lstCartelle,
                        {LocalisedText(offset, MessageId::UnsentFolderRow), QString()});
    fitToTexts();
    const int first =
        (lstCartelle->width() - QFontMetrics(font()).horizontalAdvance(QLatin1Char('W'))) / 3;
    lstCartelle->setColumnWidth(0, first);
    lstCartelle->setColumnWidth(1, 2 * first);
    // A path longer than its column loses its middle, never its end; the tooltip has it whole.
    lstCartelle->setTextElideMode(Qt::ElideMiddle);
    showFolders();
    lstCartelle->setCurrentItem(lstCartelle->topLevelItem(0));
}

void frmSetUp::showFolders()
{
    const QString folders[] = {m_settings.DirectoryInput, m_settings.DirectoryOutput};
    for (int row = 0; row < 2; ++row) {
        lstCartelle->topLevelItem(row)->setText(1, folders[row]);
        lstCartelle->topLevelItem(row)->setToolTip(1, folders[row]);
    }
}

// The layout was made for a narrower font than this platform's: where a text does not fit, the
// dialog grows to it (the labels' column, the fields, the units, the folder list, the buttons)
// rather than cutting the text or making its font smaller than its neighbours'.
void frmSetUp::fitToTexts()
{
    const QFontMetrics fm(font());
    const int pad = fm.horizontalAdvance(QLatin1Char(' '));
    const int w = fm.horizontalAdvance(QLatin1Char('W'));
    auto lack = [](const QWidget* widget, int needed) {
        return std::max(0, needed - widget->width());
    };
    auto textNeeds = [&](const QString& text) { return fm.horizontalAdvance(text) + 2 * pad; };
    int labels = 0, fields = 0, units = 0, total = 0;
    for (QLabel* label : {lblLingua, lblFrequenza, lblLog, lblPorta, lblVelocita}) {
        label->setFont(font());
        labels = std::max(labels, lack(label, textNeeds(label->text())));
    }
    for (QComboBox* combo : {cmbLingua, cmbFrequenza, cmbLog, cmbPorta, cmbBaud}) {
        // The field beside the arrow holds the longest choice.
        QStyleOptionComboBox option;
        option.initFrom(combo);
        const int field =
            combo->style()
                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
                .width();
        for (int i = 0; i < combo->count(); ++i)
            fields = std::max(fields, fm.horizontalAdvance(combo->itemText(i)) - field);
    }
    for (QLabel* label : {Label7, Label8, Label3}) {
        label->setFont(font());
        units = std::max(units, lack(label, textNeeds(label->text())));
    }
    total = labels + fields + units;
    for (QGroupBox* frame : {Frame3, fParametri, fCartelle})
        total = std::max(total, lack(frame, textNeeds(frame->title()) + 2 * w));
    // The kinds of files keep a third of the list: the list grows until that third fits them.
    int kinds = textNeeds(lstCartelle->headerItem()->text(0));
    for (int row = 0; row < lstCartelle->topLevelItemCount(); ++row)
        kinds = std::max(kinds, textNeeds(lstCartelle->topLevelItem(row)->text(0)));
    total = std::max(total, lack(lstCartelle, 3 * (kinds + w) + w));

    auto shift = [](QWidget* widget, int dx) { widget->move(widget->x() + dx, widget->y()); };
    auto widen = [](QWidget* widget, int dw) {
        widget->resize(widget->width() + dw, widget->height());
    };
    // Seams at the labels' right edge and the fields' right edge; what else the dialog needs
    // goes to the units.
    for (QLabel* label : {lblLingua, lblFrequenza, lblLog, lblPorta, lblVelocita})
        widen(label, labels);
    for (QComboBox* combo : {cmbLingua, cmbFrequenza, cmbLog, cmbPorta, cmbBaud}) {
        shift(combo, labels);
        widen(combo, fields);
    }
    for (QLabel* label : {Label7, Label8, Label3}) {
        shift(label, labels + fields);
        widen(label, total - labels - fields);
    }
    for (QGroupBox* frame : {Frame3, fParametri, fCartelle})
        widen(frame, total);
    widen(lstCartelle, total);
    shift(cmdModifica, total);
    for (QPushButton* button : {cmdModifica, cmdOk, cmdAnnulla}) {
        const int more = lack(button, button->sizeHint().width());
        button->setGeometry(button->x() - (button == cmdModifica ? more : more / 2), button->y(),
                            button->width() + more, button->height());
    }
    shift(cmdOk, total / 2);
    shift(cmdAnnulla, total / 2);
    setFixedSize(width() + total, height());
}

void frmSetUp::cmdOk_Click()
{
    m_settings = SetUpChoices::applyOk(m_settings,
                                       {cmbFrequenza->currentText(), cmbLog->currentText(),
                                        cmbBaud->currentText(), cmbPorta->currentText(),
                                        cmbLingua->currentText()},
                                       SettingsFile(m_programFolder));
    accept();
}

void frmSetUp::cmdAnnulla_Click()
{
    reject();
}

void frmSetUp::cmdModifica_Click()
{
    int row = -1;
    for (int i = 0; i < 2; ++i) {
        if (lstCartelle->topLevelItem(i)->isSelected())
            row = i;
    }
    const QString title =
        LocalisedText(m_settings.languageOffset(), SetUpChoices::folderBrowserTitleId(row));
    const QString current = row == 1 ? m_settings.DirectoryOutput : m_settings.DirectoryInput;
    if (const auto folder = m_dialogs.chooseFolder(this, title, current))
        SetUpChoices::storeChosenFolder(m_settings, row, *folder);
    showFolders();
}
