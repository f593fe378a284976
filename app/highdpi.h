#ifndef METERCONFIG_HIGHDPI_H
#define METERCONFIG_HIGHDPI_H

// Makes a scaled display (125 %, 150 %, ...) scale the whole window by the
// same factor, so that the form keeps the proportions it was laid out with.
// Without it only the fonts grow and the fields keep their pixel widths.
// Call before the QApplication exists: the scale is fixed when it starts.
void enableHighDpiScaling();

#endif // METERCONFIG_HIGHDPI_H
