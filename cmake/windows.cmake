# filled by the Windows build
