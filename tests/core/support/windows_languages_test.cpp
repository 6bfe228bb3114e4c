#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/support/TextEncoding.h"
#include "core/support/WindowsLanguages.h"

namespace cloakline {
namespace {

struct Row {
    std::string Locale;
    std::uint16_t LangId;
    std::string Name;
};

void ExpectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Locale + "]");
        const WindowsLanguage language = WindowsLanguageFromLocale(row.Locale);
        EXPECT_EQ(language.LangId, row.LangId);
        EXPECT_EQ(language.DisplayName, row.Name);
    }
}

TEST(WindowsLanguageFromLocale, KnowsTheCommonLocalesByWindowsNames) {
    ExpectRows({
        {"zh_CN", 2052, "Chinese (Simplified, PRC)"},
        {"en_US", 1033, "English (United States)"},
        {"en_GB", 2057, "English (United Kingdom)"},
        {"en_CA", 4105, "English (Canada)"},
        {"en_AU", 3081, "English (Australia)"},
        {"zh_TW", 1028, "Chinese (Traditional, Taiwan)"},
        {"zh_HK", 3076, "Chinese (Traditional, Hong Kong S.A.R.)"},
        {"zh_SG", 4100, "Chinese (Simplified, Singapore)"},
        {"de_DE", 1031, "German (Germany)"},
        {"de_AT", 3079, "German (Austria)"},
        {"de_CH", 2055, "German (Switzerland)"},
        {"fr_FR", 1036, "French (France)"},
        {"fr_CA", 3084, "French (Canada)"},
        {"es_ES", 3082, "Spanish (Spain, International Sort)"},
        {"es_MX", 2058, "Spanish (Mexico)"},
        {"it_IT", 1040, "Italian (Italy)"},
        {"ja_JP", 1041, "Japanese (Japan)"},
        {"ko_KR", 1042, "Korean (Korea)"},
        {"ru_RU", 1049, "Russian (Russia)"},
        {"pt_BR", 1046, "Portuguese (Brazil)"},
        {"pt_PT", 2070, "Portuguese (Portugal)"},
        {"nl_NL", 1043, "Dutch (Netherlands)"},
        {"pl_PL", 1045, "Polish (Poland)"},
        {"tr_TR", 1055, "Turkish (Turkey)"},
        {"sv_SE", 1053, "Swedish (Sweden)"},
        {"da_DK", 1030, "Danish (Denmark)"},
        {"fi_FI", 1035, "Finnish (Finland)"},
        {"nb_NO", 1044, "Norwegian, Bokm\xC3\xA5l (Norway)"},
        {"cs_CZ", 1029, "Czech (Czech Republic)"},
        {"hu_HU", 1038, "Hungarian (Hungary)"},
        {"el_GR", 1032, "Greek (Greece)"},
        {"he_IL", 1037, "Hebrew (Israel)"},
        {"ar_SA", 1025, "Arabic (Saudi Arabia)"},
        {"th_TH", 1054, "Thai (Thailand)"},
        {"vi_VN", 1066, "Vietnamese (Vietnam)"},
        {"id_ID", 1057, "Indonesian (Indonesia)"},
        {"uk_UA", 1058, "Ukrainian (Ukraine)"},
        {"ro_RO", 1048, "Romanian (Romania)"},
        {"bg_BG", 1026, "Bulgarian (Bulgaria)"},
        {"hr_HR", 1050, "Croatian (Croatia)"},
        {"sk_SK", 1051, "Slovak (Slovakia)"},
        {"sl_SI", 1060, "Slovenian (Slovenia)"},
        {"ca_ES", 1027, "Catalan (Catalan)"},
    });
}

TEST(WindowsLanguageFromLocale, IgnoresCodesetModifierSeparatorAndCase) {
    ExpectRows({
        {"zh_CN.UTF-8", 2052, "Chinese (Simplified, PRC)"},
        {"zh_CN.GB18030", 2052, "Chinese (Simplified, PRC)"},
        {"zh-cn", 2052, "Chinese (Simplified, PRC)"},
        {"ZH_cn.gb2312", 2052, "Chinese (Simplified, PRC)"},
        {"de_DE@euro", 1031, "German (Germany)"},
        {"de_AT.UTF-8@euro", 3079, "German (Austria)"},
        {"en-GB", 2057, "English (United Kingdom)"},
        {"ES_mx", 2058, "Spanish (Mexico)"},
    });
}

TEST(WindowsLanguageFromLocale, ALanguageAloneGivesItsPrimaryCountry) {
    ExpectRows({
        {"de", 1031, "German (Germany)"},
        {"fr.UTF-8", 1036, "French (France)"},
        {"es", 3082, "Spanish (Spain, International Sort)"},
        {"zh", 2052, "Chinese (Simplified, PRC)"},
        {"pt", 1046, "Portuguese (Brazil)"},
        {"en", 1033, "English (United States)"},
        {"ar", 1025, "Arabic (Saudi Arabia)"},
        // A country the table lacks falls back to the language.
        {"de_BE", 1031, "German (Germany)"},
        {"en_XX.UTF-8", 1033, "English (United States)"},
        // Old language codes.
        {"no_NO", 1044, "Norwegian, Bokm\xC3\xA5l (Norway)"},
        {"iw_IL", 1037, "Hebrew (Israel)"},
    });
}

TEST(WindowsLanguageFromLocale, UnknownNamesAreEnglishUnitedStates) {
    ExpectRows({
        {"", 1033, "English (United States)"},
        {"C", 1033, "English (United States)"},
        {"C.UTF-8", 1033, "English (United States)"},
        {"POSIX", 1033, "English (United States)"},
        {"xx_YY", 1033, "English (United States)"},
        {".UTF-8", 1033, "English (United States)"},
        {"_CN", 1033, "English (United States)"},
    });
}

TEST(WindowsLanguageFromLocale, NoTwoLocalesShareALanguageId) {
    const std::vector<std::string> locales = {
        "en_US", "en_GB", "en_AU", "en_CA", "en_NZ", "en_IE", "en_ZA", "en_IN", "en_SG", "zh_CN",
        "zh_TW", "zh_HK", "zh_SG", "zh_MO", "de_DE", "de_CH", "de_AT", "de_LU", "de_LI", "fr_FR",
        "fr_BE", "fr_CA", "fr_CH", "fr_LU", "es_ES", "es_MX", "es_CO", "es_PE", "es_AR", "es_CL",
        "es_US", "it_IT", "it_CH", "ja_JP", "ko_KR", "ru_RU", "pt_BR", "pt_PT", "nl_NL", "nl_BE",
        "pl_PL", "tr_TR", "sv_SE", "sv_FI", "da_DK", "fi_FI", "nb_NO", "nn_NO", "cs_CZ", "hu_HU",
        "el_GR", "he_IL", "ar_SA", "ar_EG", "ar_AE", "th_TH", "vi_VN", "id_ID", "ms_MY", "uk_UA",
        "ro_RO", "bg_BG", "hr_HR", "sk_SK", "sl_SI", "ca_ES", "eu_ES", "gl_ES", "et_EE", "lv_LV",
        "lt_LT", "is_IS", "sq_AL", "be_BY", "kk_KZ", "ka_GE", "hy_AM", "hi_IN", "af_ZA", "fil_PH",
    };
    std::map<std::uint16_t, std::string> owners;
    for (const std::string& locale : locales) {
        SCOPED_TRACE(locale);
        const WindowsLanguage language = WindowsLanguageFromLocale(locale);
        const auto [it, fresh] = owners.emplace(language.LangId, locale);
        EXPECT_TRUE(fresh) << "also " << it->second;
        EXPECT_TRUE(IsValidUtf8(language.DisplayName));
        EXPECT_NE(language.DisplayName.find(" ("), std::string::npos) << language.DisplayName;
    }
}

}  // namespace
}  // namespace cloakline
