#pragma once

#include <QWidget>
#include <string_view>

namespace cloakline {

class QtKTMultiLangData;

// Collects the texts of every translation client on the form, as built, into
// the current language of data.
void HarvestForm(QWidget& form, QtKTMultiLangData& data);

// The English language: the "Info" section, the main window's texts, those of
// every registered form (created with the main window as owner and freed
// again), and the named strings.
void HarvestLanguage(QWidget& mainForm, QtKTMultiLangData& data);

// The harvest tool: builds the program's forms in a throw-away installation,
// where nothing reaches the browsers, the network or other instances, and
// saves the sorted English language file to the path given. Returns the exit code.
int RunLanguageHarvest(int argc, char** argv);

}  // namespace cloakline
