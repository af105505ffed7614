#pragma once

#include "dialogs/kit/fixeddialog.h"

namespace ostrelle {

// "About Brevikon Ostrelle": the maker's logo, the product and version lines, the copyright
// and contact lines. It reads and changes nothing.
class AboutDialog : public FixedDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
};

} // namespace ostrelle
