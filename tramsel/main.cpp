#include "common/runwindow.h"
#include "tramsel/form1.h"
#include "tramsel/messages.h"

int main(int argc, char** argv)
{
    return common::runWindow<tramsel::Form1>(argc, argv, QStringLiteral("tramsel"),
                                             QStringLiteral("Tramsel"), tramsel::helpText);
}
