// Writes the English language file from the program's forms and named strings.
#include "app/LanguageHarvest.h"

int main(int argc, char** argv) {
    return cloakline::RunLanguageHarvest(argc, argv);
}
