<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>About</name>
    <message>
        <source>KelvoWiFi</source>
        <translation>KelvoWiFi</translation>
    </message>
    <message>
        <source>KelvoWiFi v1.2.4</source>
        <translation>KelvoWiFi v1.2.4</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;img src=&quot;:/images/logo.png&quot;/&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>KelvoWiFi v1.2.4</source>
        <translation>KelvoWiFi v1.2.4</translation>
    </message>
    <message>
        <source>保存路径(P)</source>
        <translation>Save Path(P)</translation>
    </message>
    <message>
        <source>关于(A)</source>
        <translation>About(A)</translation>
    </message>
    <message>
        <source>用户手册(M)</source>
        <translation>User Manual(M)</translation>
    </message>
    <message>
        <source>简体中文</source>
        <translation>简体中文</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>英文</source>
        <translation>English</translation>
    </message>
    <message>
        <source>退出程序(E)</source>
        <translation>Exit(E)</translation>
    </message>
    <message>
        <source>还原亮度(R)</source>
        <translation>Reset Brightness</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:12pt; color:#ffffff;&quot;&gt;0 &lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:12pt; color:#ffffff;&quot;&gt;0 &lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; color:#ffffff;&quot;&gt;亮    度： 0&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; color:#ffffff;&quot;&gt;Brightness: 0&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:12pt; color:#ffffff;&quot;&gt;255&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:12pt; color:#ffffff;&quot;&gt;255&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; color:#ffffff;&quot;&gt;保存名称：&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:12pt; color:#ffffff;&quot;&gt;Save name:&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>自动增加</source>
        <translation>Increase</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; color:#ffffff;&quot;&gt;保存路径：&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:12pt; color:#ffffff;&quot;&gt;Save path:&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>选  择</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; color:#ffffff;&quot;&gt;连接方式：&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:12pt; color:#ffffff;&quot;&gt;Type:&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>WiFi</source>
        <translation>WiFi</translation>
    </message>
    <message>
        <source>连  接</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source> 断  开</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>拍  照</source>
        <translation>Capture</translation>
    </message>
    <message>
        <source>序号</source>
        <translation>Num</translation>
    </message>
    <message>
        <source>图片名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>图片大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>图片位置</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>功能(F)</source>
        <translation>Function(F)</translation>
    </message>
    <message>
        <source>选择语言(L)</source>
        <translation>Select Language(L)</translation>
    </message>
    <message>
        <source>帮助(H)</source>
        <translation>Help(H)</translation>
    </message>
    <message>
        <source>检测(I)</source>
        <translation>Inspect(I)</translation>
    </message>
    <message>
        <source>区域叠加(Z)</source>
        <translation>Zone Overlay(Z)</translation>
    </message>
    <message>
        <source>在实时画面上显示端面区域、缺陷和检测结果</source>
        <translation>Show the end-face zones, the defects and the verdict on the live picture</translation>
    </message>
    <message>
        <source>检测最新照片(N)</source>
        <translation>Inspect Newest Capture(N)</translation>
    </message>
    <message>
        <source>检测最新保存的照片，并在照片旁保存检测报告</source>
        <translation>Inspect the newest stored capture and save its report beside it</translation>
    </message>
</context>
<context>
    <name>InspectionDialog</name>
    <message>
        <source>端面检测</source>
        <translation>End-face Inspection</translation>
    </message>
    <message>
        <source>区域</source>
        <translation>Zone</translation>
    </message>
    <message>
        <source>直径(µm)</source>
        <translation>Diameter (µm)</translation>
    </message>
    <message>
        <source>缺陷</source>
        <translation>Defects</translation>
    </message>
    <message>
        <source>划痕</source>
        <translation>Scratches</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>关  闭</source>
        <translation>Close</translation>
    </message>
</context>
</TS>
