// Test helper: a program that prints one line and then lets an error escape,
// so the tests can see the unhandled-error report as a user does.
//   report_child herd|stderr input      reads a number from standard input
//   report_child herd|stderr convert X  converts the argument X
#include <string>

#include "command_line_unit.h"

#include "console_input_unit.h"
#include "cp1251_unit.h"
#include "errors_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "number_text_unit.h"

int main() {
    ReadLocaleSettings();
    const ReportForm form =
        CommandArgument(1) == "herd" ? ReportForm::kHerdLauncher : ReportForm::kStandardError;
    return RunProgram(form, [] {
        PrintLine("Перед ошибкой"_cp1251);
        if (CommandArgument(2) == "input") {
            ReadInteger();
        } else {
            TextToInteger(CommandArgument(3));
        }
        PrintLine("После чтения"_cp1251);
    });
}
