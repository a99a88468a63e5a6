#include "common/runwindow.h"
#include "pinmark/form1.h"
#include "pinmark/messages.h"

int main(int argc, char** argv)
{
    return common::runWindow<pinmark::Form1>(argc, argv, QStringLiteral("pinmark"),
                                             QStringLiteral("Pinmark"), pinmark::helpText);
}
