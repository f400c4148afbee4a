#pragma once

class QWidget;

// Places a secondary window centred over its owner: left = owner's left + (owner's
// width - window's width) / 2, top likewise, the halves truncated toward zero.
// Frame measures on both sides. A window that would stand partly off the
// owner's screen is moved onto it (top-left corner first). Without an owner the
// window stays where it is.
void CentreOver(QWidget &window, const QWidget *owner);
