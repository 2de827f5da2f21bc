#pragma once

// What the service switch shows on the main window and in the tray. The main
// window implements it; the processor calls it from turnon and turnoff, so the
// engine needs no widgets. Pictures are numbered as in the window's image list,
// from 1.
class ServiceIndicators {
public:
    virtual ~ServiceIndicators() = default;

    virtual void setStartEnabled(bool enabled) = 0;
    virtual void setStopEnabled(bool enabled) = 0;
    virtual void setLightGreen(bool green) = 0;
    virtual void setWindowIconImage(int image) = 0;
    virtual void setConfigEnabled(bool enabled) = 0;
    // Ignored while no tray icon has been added.
    virtual void setTrayIconImage(int image) = 0;
};
