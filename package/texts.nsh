; The setup program's own texts, in English and Simplified Chinese. Saved as
; UTF-8 with a byte-order mark, which makensis reads as such.

LangString ProgramSection ${LANG_ENGLISH} "QV70 Device Manager"
LangString ProgramSection ${LANG_SIMPCHINESE} "QV70 设备管理器"

LangString ProgramSectionText ${LANG_ENGLISH} "The program, its settings file and its language files."
LangString ProgramSectionText ${LANG_SIMPCHINESE} "程序本身、设置文件和语言文件。"

LangString BenchSection ${LANG_ENGLISH} "Simulated device bench"
LangString BenchSection ${LANG_SIMPCHINESE} "模拟设备台"

LangString BenchSectionText ${LANG_ENGLISH} "Virtual devices to practise on, and a sample firmware image. For real devices leave this out: the maker's QVAndroidDLL.dll, DriverSetup.Exe and Driver folder replace it."
LangString BenchSectionText ${LANG_SIMPCHINESE} "用于练习的虚拟设备和一个示例固件映像。连接真实设备时请不要选择此项：厂商提供的 QVAndroidDLL.dll、DriverSetup.Exe 和 Driver 文件夹将取代它。"

LangString ComponentsTop ${LANG_ENGLISH} "The simulated device bench is for training. For real devices, leave it out and copy the maker's QVAndroidDLL.dll, DriverSetup.Exe and Driver folder into the program folder."
LangString ComponentsTop ${LANG_SIMPCHINESE} "模拟设备台仅用于培训。连接真实设备时请不要选择它，并把厂商提供的 QVAndroidDLL.dll、DriverSetup.Exe 和 Driver 文件夹复制到程序文件夹中。"

LangString ProgramRunning ${LANG_ENGLISH} "QV70 Device Manager is running. Close it, then start the setup again."
LangString ProgramRunning ${LANG_SIMPCHINESE} "QV70 设备管理器正在运行。请先关闭它，再重新运行安装程序。"

LangString RemoveUserData ${LANG_ENGLISH} "Also remove your settings (setting.ini) and the Log folder, with the device logs, the job record (jobs.csv) and the crash reports?"
LangString RemoveUserData ${LANG_SIMPCHINESE} "是否同时删除您的设置（setting.ini）和 Log 文件夹（其中有设备日志、作业记录 jobs.csv 和崩溃报告）？"
