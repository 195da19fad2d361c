#include "LanguageCaptions.h"

const std::vector<CaptionId>& mainWindowCaptions()
{
    static const std::vector<CaptionId> captions = {
        {QStringLiteral("mnuNascondi"), 501},    {QStringLiteral("MNU_FILE_ESCI"), 509},
        {QStringLiteral("MNU_FILE_INVIA"), 508}, {QStringLiteral("MNU_FILE_PERSONALIZZA"), 507},
        {QStringLiteral("Frame2"), 504},         {QStringLiteral("lblTitCol_0"), 503},
        {QStringLiteral("lblTitCol_2"), 506},    {QStringLiteral("lblTitCol_3"), 505},
        {QStringLiteral("lblTitCol_1"), 502},
    };
    return captions;
}

const std::vector<CaptionId>& setUpDialogCaptions()
{
    static const std::vector<CaptionId> captions = {
        {QStringLiteral("lblLingua"), 521}, {QStringLiteral("lblFrequenza"), 522},
        {QStringLiteral("lblLog"), 523},    {QStringLiteral("fParametri"), 524},
        {QStringLiteral("lblPorta"), 525},  {QStringLiteral("lblVelocità"), 526},
        {QStringLiteral("fCartelle"), 527}, {QStringLiteral("cmdModifica"), 528},
        {QStringLiteral("cmdOk"), 529},     {QStringLiteral("cmdAnnulla"), 530},
        {QStringLiteral("frmSetUp"), 520},
    };
    return captions;
}
