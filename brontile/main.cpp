#include "brontile/form1.h"
#include "brontile/messages.h"
#include "common/runwindow.h"

int main(int argc, char** argv)
{
    return common::runWindow<brontile::Form1>(argc, argv, QStringLiteral("brontile"),
                                              QStringLiteral("Brontile"), brontile::helpText);
}
