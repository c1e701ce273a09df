#pragma once
// The program's icon, banner and fixed texts.

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace avs::frontend {

inline constexpr char kMainCaption[] = "Ostrander 3.3.01";
inline constexpr char kAboutCaption[] = "关于 Ostrander";
inline constexpr char kAboutLine[] = "Ostrander 3.3.01 版";
inline constexpr char kAboutMenuEntry[] = "关于 Ostrander(&A)...";
inline constexpr int kAboutCommand = 0x0010;

QIcon ProgramIcon();
QPixmap IconPixmap(int size);
QPixmap BannerPixmap(const QSize& size);

}  // namespace avs::frontend
