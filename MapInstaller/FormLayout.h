#pragma once

#include "app/DpiScaling.h"
#include "text/Text.h"

// The layout of the main window, in pixels at the DPI that it names.
struct FormLayout {
    int dpi = designDpi;
    int clientWidth = 0;
    int clientHeight = 0;
    // Character heights: the window font (Label4, Button1) and the own font of Label1 to Label3.
    int windowFontHeight = 0;
    int creditsFontHeight = 0;
    Bounds logo;
    // Labels size themselves to their text in their font: only their corners are laid out.
    Position label1;
    Position label2;
    Position label3;
    Position label4;
    Bounds button1;

    friend bool operator==(const FormLayout&, const FormLayout&) = default;
};

// The window's own layout at 96 DPI, from which every other DPI is scaled.
FormLayout DesignLayout();

// The layout scaled from its DPI to `dpi`: sizes of the client area, edges and font heights go
// through MulDiv, the sizes of controls are the differences of their scaled edges.
FormLayout ScaleLayout(const FormLayout& layout, int dpi);

constexpr TextView formCaption = u"Le Talvor Map Installer";
constexpr TextView fontFace = u"Segoe UI";
constexpr TextView label1Caption = u"Credits :";
constexpr TextView label2Caption = u"Map : Gaspard Milon (CN : VQ)";
constexpr TextView label3Caption = u"Installer : Noémie Castel (CN : RT3)";
constexpr TextView label4Caption = u"La carte va maintenant être appliquée à votre profil LX";
constexpr TextView button1Caption = u"Sélection profil / Select profile";

// What Label4 shows once revealed: the French line, CR LF, and the English line indented by four
// spaces.
constexpr TextView announcement =
    u"La carte va maintenant être appliquée à votre profil LX\r\n"
    u"    The map will now be applied to your LX profile";
