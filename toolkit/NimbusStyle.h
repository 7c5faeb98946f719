#pragma once

#include <QProxyStyle>

namespace toolkit {

// The program's own look: Fusion's shapes with a calm blue-grey palette, so the preferred
// look exists on every desktop.
class NimbusStyle final : public QProxyStyle {
    Q_OBJECT
public:
    static constexpr auto className = "tamborel::NimbusStyle";

    NimbusStyle();
    QPalette standardPalette() const override;
};

} // namespace toolkit
