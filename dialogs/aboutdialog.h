#pragma once

#include "dialogs/fixeddialog.h"

namespace ostrelle {

// "About Brevikon Ostrelle": the maker's logo, the product and version lines, the copyright
// and contact lines. It reads and changes nothing.
class Form3 : public FixedDialog
{
    Q_OBJECT
public:
    explicit Form3(QWidget* parent);

private:
    void Command1_Click();
};

} // namespace ostrelle
