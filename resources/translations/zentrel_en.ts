<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Board</name>
    <message>
        <source>产线看板</source>
        <translation>Line board</translation>
    </message>
    <message>
        <source>测量中</source>
        <translation>Measuring</translation>
    </message>
    <message>
        <source>空闲</source>
        <translation>Idle</translation>
    </message>
    <message>
        <source>离线</source>
        <translation>Away</translation>
    </message>
    <message>
        <source>补传中，落后 %1</source>
        <translation>catching up, %1 behind</translation>
    </message>
    <message>
        <source>工位</source>
        <translation>Stations</translation>
    </message>
    <message>
        <source>今日电芯</source>
        <translation>Cells today</translation>
    </message>
    <message>
        <source>今日良率</source>
        <translation>Yield today</translation>
    </message>
    <message>
        <source>近一小时 NG</source>
        <translation>NG, last hour</translation>
    </message>
    <message>
        <source>读数/分钟</source>
        <translation>Readings/min</translation>
    </message>
    <message>
        <source>批次</source>
        <translation>Lot</translation>
    </message>
    <message>
        <source>限值组</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>最近读数</source>
        <translation>Last reading</translation>
    </message>
    <message>
        <source>一天内无读数</source>
        <translation>none for a day</translation>
    </message>
    <message>
        <source>最近 NG</source>
        <translation>Last NG</translation>
    </message>
    <message>
        <source>控制图信号</source>
        <translation>Control-chart signals</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Acknowledge</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>还没有工位的数据</source>
        <translation>No station has sent anything yet</translation>
    </message>
    <message>
        <source>与看板服务的连接已断开，正在重连……</source>
        <translation>Lost the connection to the board; reconnecting…</translation>
    </message>
    <message>
        <source>看板服务读不到数据库：%1</source>
        <translation>The board cannot read the database: %1</translation>
    </message>
    <message>
        <source>返回看板</source>
        <translation>Back to the board</translation>
    </message>
    <message>
        <source>近一小时的 R 与 V</source>
        <translation>R and V, last hour</translation>
    </message>
    <message>
        <source>当前批次 R 的分布</source>
        <translation>R of the current lot</translation>
    </message>
    <message>
        <source>当前批次 R 的控制图</source>
        <translation>Control chart of R, current lot</translation>
    </message>
    <message>
        <source>当前批次 V 的控制图</source>
        <translation>Control chart of V, current lot</translation>
    </message>
    <message>
        <source>还需 %1 条合格记录才有控制限</source>
        <translation>%1 more PASS records before there are control limits</translation>
    </message>
    <message>
        <source>自放电 K（mV/天）</source>
        <translation>Self-discharge K (mV/day)</translation>
    </message>
    <message>
        <source>记录</source>
        <translation>Records</translation>
    </message>
    <message>
        <source>今天还没有电芯记录</source>
        <translation>No cell records today</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>记录号</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>电芯编号</source>
        <translation>Cell ID</translation>
    </message>
    <message>
        <source>判定</source>
        <translation>Verdict</translation>
    </message>
    <message>
        <source>档位</source>
        <translation>Grade</translation>
    </message>
    <message>
        <source>控制图规则</source>
        <translation>Rules</translation>
    </message>
    <message>
        <source>工序</source>
        <translation>Stage</translation>
    </message>
    <message>
        <source>K（mV/天）</source>
        <translation>K (mV/day)</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>个数</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>中心线</source>
        <translation>Centre</translation>
    </message>
    <message>
        <source>上控制限</source>
        <translation>UCL</translation>
    </message>
    <message>
        <source>下控制限</source>
        <translation>LCL</translation>
    </message>
    <message>
        <source>信号</source>
        <translation>Signal</translation>
    </message>
    <message>
        <source>R：%1</source>
        <translation>R: %1</translation>
    </message>
    <message>
        <source>V：%1</source>
        <translation>V: %1</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Chinese</translation>
    </message>
</context>
<context>
    <name>Capabilities</name>
    <message>
        <source>MQTT 未启用：站名“%1”含 /、+ 或 #，不能作主题的一层；请设 [MQTT] Prefix</source>
        <translation>MQTT off: the station name &quot;%1&quot; holds /, + or # and cannot be one level of a topic; set [MQTT] Prefix</translation>
    </message>
    <message>
        <source>MQTT 未连接：%1</source>
        <translation>MQTT not connected: %1</translation>
    </message>
    <message>
        <source>正在等待串口 %1 重新连接…</source>
        <translation>Waiting for serial port %1 to come back…</translation>
    </message>
</context>
<context>
    <name>Console</name>
    <message>
        <source>发送</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>发送失败</source>
        <translation>Send failed</translation>
    </message>
    <message>
        <source>监听失败</source>
        <translation>Listen failed</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>接收</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>时间[%1] %2: %3</source>
        <translation>Time[%1] %2: %3</translation>
    </message>
    <message>
        <source>十六进制数据含非法字符“%1”，未发送</source>
        <translation>The hex data holds the invalid character &quot;%1&quot;; not sent</translation>
    </message>
    <message>
        <source>十六进制数据“%1”的位数为奇数，未发送</source>
        <translation>The hex data &quot;%1&quot; has an odd number of digits; not sent</translation>
    </message>
    <message>
        <source>字符“%1”不是单字节字符，ASCII 模式下无法发送；未发送</source>
        <translation>The character &quot;%1&quot; is not a single-byte character and cannot be sent in ASCII mode; not sent</translation>
    </message>
    <message>
        <source>端口“%1”不是 0-65535 的整数，未开始监听</source>
        <translation>Port &quot;%1&quot; is not a whole number from 0 to 65535; not listening</translation>
    </message>
    <message>
        <source>无法监听端口 %1：%2</source>
        <translation>Cannot listen on port %1: %2</translation>
    </message>
    <message>
        <source>监听成功（端口 %1）</source>
        <translation>Listening (port %1)</translation>
    </message>
    <message>
        <source>监听成功</source>
        <translation>Listening</translation>
    </message>
    <message>
        <source>端口 %1 超出 0-65535，未发送</source>
        <translation>Port %1 is outside 0-65535; not sent</translation>
    </message>
    <message>
        <source>“%1”不是有效的 IP 地址，未发送</source>
        <translation>&quot;%1&quot; is not a valid IP address; not sent</translation>
    </message>
</context>
<context>
    <name>ControlChart</name>
    <message>
        <source>一个点超出 3σ 控制限</source>
        <translation>One point beyond the 3σ control limits</translation>
    </message>
    <message>
        <source>连续 9 个点在中心线同一侧</source>
        <translation>Nine points in a row on one side of the centre line</translation>
    </message>
    <message>
        <source>连续 6 个点持续上升或下降</source>
        <translation>Six points in a row steadily rising or falling</translation>
    </message>
    <message>
        <source>连续 14 个点上下交替</source>
        <translation>Fourteen points in a row alternating up and down</translation>
    </message>
    <message>
        <source>连续 3 个点中有 2 个在同侧 2σ 以外</source>
        <translation>Two of three points in a row beyond 2σ on one side</translation>
    </message>
    <message>
        <source>连续 5 个点中有 4 个在同侧 1σ 以外</source>
        <translation>Four of five points in a row beyond 1σ on one side</translation>
    </message>
    <message>
        <source>连续 15 个点都在 1σ 以内</source>
        <translation>Fifteen points in a row within 1σ</translation>
    </message>
    <message>
        <source>连续 8 个点都在 1σ 以外（两侧都有）</source>
        <translation>Eight points in a row beyond 1σ, on both sides</translation>
    </message>
</context>
<context>
    <name>Files</name>
    <message>
        <source>无法建立记录文件夹 %1</source>
        <translation>Cannot create the journal folder %1</translation>
    </message>
    <message>
        <source>记录文件夹 %1 正由另一个程序使用（进程 %2，主机 %3）</source>
        <translation>The journal folder %1 is in use by another program (process %2, host %3)</translation>
    </message>
    <message>
        <source>记录文件夹 %1 无法加锁（zentrel.lock 无法建立）</source>
        <translation>The journal folder %1 cannot be locked (zentrel.lock cannot be created)</translation>
    </message>
    <message>
        <source>无法建立文件夹 %1</source>
        <translation>Cannot create the folder %1</translation>
    </message>
    <message>
        <source>%1 是符号链接，不跟随</source>
        <translation>%1 is a symbolic link; not followed</translation>
    </message>
    <message>
        <source>%1 是一个文件夹</source>
        <translation>%1 is a folder</translation>
    </message>
    <message>
        <source>%1 不是普通文件（管道、设备或套接字）</source>
        <translation>%1 is not a regular file (a pipe, device or socket)</translation>
    </message>
    <message>
        <source>%1 是只读文件</source>
        <translation>%1 is read-only</translation>
    </message>
</context>
<context>
    <name>Journal</name>
    <message>
        <source>%1：不是 %2，未读</source>
        <translation>%1: not %2; not read</translation>
    </message>
    <message>
        <source> 或 </source>
        <translation> or </translation>
    </message>
    <message>
        <source>%1：不存在</source>
        <translation>%1: does not exist</translation>
    </message>
    <message>
        <source>无法建立文件夹 %1</source>
        <translation>Cannot create the folder %1</translation>
    </message>
    <message>
        <source>记录暂停：%1（%2 条读数在内存中等待写入）</source>
        <translation>Journal paused: %1 (%2 readings wait in memory)</translation>
    </message>
    <message>
        <source>%1 条读数未能记录</source>
        <translation>%1 readings not journaled</translation>
    </message>
    <message>
        <source>记录文件夹：%1</source>
        <translation>Journal folder: %1</translation>
    </message>
</context>
<context>
    <name>Logger</name>
    <message>
        <source>%1: 过程异常信号，记录 %2：%3</source>
        <translation>%1: out-of-control signal, record %2: %3</translation>
    </message>
    <message>
        <source>%1：接触未稳定，没有记录（接触 %2 s，需要 %3 s 且 %4 个读数相差在 %5 % 以内）</source>
        <translation>%1: contacts do not settle; no record (contact %2 s, needs %3 s and %4 readings within %5 %)</translation>
    </message>
    <message>
        <source>%1：limits=%2 需要 --limit-sets FILE（存放该限值组的文件）</source>
        <translation>%1: limits=%2 needs --limit-sets FILE (the file that holds the set)</translation>
    </message>
    <message>
        <source>%1：%3 中没有限值组“%2”</source>
        <translation>%1: no limit set &quot;%2&quot; in %3</translation>
    </message>
    <message>
        <source>日志暂停：%1（%2 个读数等待写入）</source>
        <translation>journal paused: %1 (%2 readings waiting)</translation>
    </message>
    <message>
        <source>日志写入 %1</source>
        <translation>journal writing in %1</translation>
    </message>
    <message>
        <source>%1（%2）：无法打开：%3；等待它出现</source>
        <translation>%1 (%2): cannot open: %3; waiting for it</translation>
    </message>
    <message>
        <source>%1：已连接</source>
        <translation>%1: connected</translation>
    </message>
    <message>
        <source>%1：连接丢失（%2）；等待它恢复</source>
        <translation>%1: lost (%2); waiting for it to come back</translation>
    </message>
    <message>
        <source>%1：已重新连接</source>
        <translation>%1: reconnected</translation>
    </message>
    <message>
        <source>%1：丢弃了 %2 字节（不是仪表的帧）</source>
        <translation>%1: %2 bytes dropped (no frame of a meter)</translation>
    </message>
    <message>
        <source>MQTT 关闭：发布需要日志</source>
        <translation>MQTT off: publishing needs the journal</translation>
    </message>
    <message>
        <source>≥%1（正在清点）</source>
        <translation>&gt;=%1 (counting)</translation>
    </message>
    <message>
        <source>MQTT 已连接 %1，积压 %2</source>
        <translation>mqtt connected to %1, backlog %2</translation>
    </message>
    <message>
        <source>MQTT 正在重连 %1，积压 %2</source>
        <translation>mqtt reconnecting to %1, backlog %2</translation>
    </message>
    <message>
        <source>MQTT 正在重连 %1（%2），积压 %3</source>
        <translation>mqtt reconnecting to %1 (%2), backlog %3</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>AUTO</source>
        <translation>AUTO</translation>
    </message>
    <message>
        <source>Fix</source>
        <translation>Fix</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>清空计数</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>R:0</source>
        <translation>R:0</translation>
    </message>
    <message>
        <source>S:0</source>
        <translation>S:0</translation>
    </message>
    <message>
        <source>串口通信</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>检测端口号：</source>
        <translation>Find ports:</translation>
    </message>
    <message>
        <source> 波特率：</source>
        <translation> Baud rate:</translation>
    </message>
    <message>
        <source>9600</source>
        <translation>9600</translation>
    </message>
    <message>
        <source>1200</source>
        <translation>1200</translation>
    </message>
    <message>
        <source>2400</source>
        <translation>2400</translation>
    </message>
    <message>
        <source>4800</source>
        <translation>4800</translation>
    </message>
    <message>
        <source>14400</source>
        <translation>14400</translation>
    </message>
    <message>
        <source>19200</source>
        <translation>19200</translation>
    </message>
    <message>
        <source>38400</source>
        <translation>38400</translation>
    </message>
    <message>
        <source>56000</source>
        <translation>56000</translation>
    </message>
    <message>
        <source>57600</source>
        <translation>57600</translation>
    </message>
    <message>
        <source>115200</source>
        <translation>115200</translation>
    </message>
    <message>
        <source>128000</source>
        <translation>128000</translation>
    </message>
    <message>
        <source>230400</source>
        <translation>230400</translation>
    </message>
    <message>
        <source>256000</source>
        <translation>256000</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>关闭串口</source>
        <translation>Close port</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>添加界线</source>
        <translation>Add line</translation>
    </message>
    <message>
        <source>     报警设置</source>
        <translation>     Alarm limits</translation>
    </message>
    <message>
        <source>R&lt;</source>
        <translation>R&lt;</translation>
    </message>
    <message>
        <source>mΩ  R&gt;</source>
        <translation>mΩ  R&gt;</translation>
    </message>
    <message>
        <source>mΩ</source>
        <translation>mΩ</translation>
    </message>
    <message>
        <source>V&lt;</source>
        <translation>V&lt;</translation>
    </message>
    <message>
        <source>(V)  V&gt;</source>
        <translation>(V)  V&gt;</translation>
    </message>
    <message>
        <source>(V)</source>
        <translation>(V)</translation>
    </message>
    <message>
        <source>音源选择：</source>
        <translation>Sound:</translation>
    </message>
    <message>
        <source>正常/异常</source>
        <translation>OK/Fault</translation>
    </message>
    <message>
        <source>PASS/NG</source>
        <translation>PASS/NG</translation>
    </message>
    <message>
        <source>咚咚</source>
        <translation>Dong dong</translation>
    </message>
    <message>
        <source>警报</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>无声音</source>
        <translation>No sound</translation>
    </message>
    <message>
        <source>采集频率：</source>
        <translation>Sampling:</translation>
    </message>
    <message>
        <source>0.5秒</source>
        <translation>0.5 s</translation>
    </message>
    <message>
        <source>1秒</source>
        <translation>1 s</translation>
    </message>
    <message>
        <source>2秒</source>
        <translation>2 s</translation>
    </message>
    <message>
        <source>3秒</source>
        <translation>3 s</translation>
    </message>
    <message>
        <source>4秒</source>
        <translation>4 s</translation>
    </message>
    <message>
        <source>5秒</source>
        <translation>5 s</translation>
    </message>
    <message>
        <source>6秒</source>
        <translation>6 s</translation>
    </message>
    <message>
        <source>7秒</source>
        <translation>7 s</translation>
    </message>
    <message>
        <source>8秒</source>
        <translation>8 s</translation>
    </message>
    <message>
        <source>9秒</source>
        <translation>9 s</translation>
    </message>
    <message>
        <source>10秒</source>
        <translation>10 s</translation>
    </message>
    <message>
        <source>15秒</source>
        <translation>15 s</translation>
    </message>
    <message>
        <source>20秒</source>
        <translation>20 s</translation>
    </message>
    <message>
        <source>30秒</source>
        <translation>30 s</translation>
    </message>
    <message>
        <source>60秒</source>
        <translation>60 s</translation>
    </message>
    <message>
        <source>10分</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>30分</source>
        <translation>30 min</translation>
    </message>
    <message>
        <source>60分</source>
        <translation>60 min</translation>
    </message>
    <message>
        <source>     接收窗口</source>
        <translation>  Receive window</translation>
    </message>
    <message>
        <source>监控模式</source>
        <translation>Monitor</translation>
    </message>
    <message>
        <source>组测模式</source>
        <translation>Group test</translation>
    </message>
    <message>
        <source>保存数据</source>
        <translation>Save data</translation>
    </message>
    <message>
        <source>清空窗口</source>
        <translation>Clear window</translation>
    </message>
    <message>
        <source>网络通信</source>
        <translation>Network</translation>
    </message>
    <message>
        <source>16进制接收</source>
        <translation>Receive as hex</translation>
    </message>
    <message>
        <source>16进制发送</source>
        <translation>Send as hex</translation>
    </message>
    <message>
        <source>ASCII控制字符</source>
        <translation>ASCII control characters</translation>
    </message>
    <message>
        <source>暂停显示</source>
        <translation>Pause display</translation>
    </message>
    <message>
        <source>定时发送</source>
        <translation>Send every</translation>
    </message>
    <message>
        <source>500</source>
        <translation>500</translation>
    </message>
    <message>
        <source>1000</source>
        <translation>1000</translation>
    </message>
    <message>
        <source>2000</source>
        <translation>2000</translation>
    </message>
    <message>
        <source>3000</source>
        <translation>3000</translation>
    </message>
    <message>
        <source>4000</source>
        <translation>4000</translation>
    </message>
    <message>
        <source>5000</source>
        <translation>5000</translation>
    </message>
    <message>
        <source>10000</source>
        <translation>10000</translation>
    </message>
    <message>
        <source>20000</source>
        <translation>20000</translation>
    </message>
    <message>
        <source>100000</source>
        <translation>100000</translation>
    </message>
    <message>
        <source>200000</source>
        <translation>200000</translation>
    </message>
    <message>
        <source>远程IP地址</source>
        <translation>Remote IP</translation>
    </message>
    <message>
        <source>远程端口</source>
        <translation>Remote port</translation>
    </message>
    <message>
        <source>监听端口</source>
        <translation>Listen port</translation>
    </message>
    <message>
        <source>监听</source>
        <translation>Listen</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>接收窗口</source>
        <translation>Receive window</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>toolBar</source>
        <translation>toolBar</translation>
    </message>
    <message>
        <source>新建</source>
        <translation>New</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>工具</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>&lt;a href = &apos;&apos;&gt;Zentrel v1.0&lt;/a&gt;</source>
        <translation>&lt;a href = &apos;&apos;&gt;Zentrel v1.0&lt;/a&gt;</translation>
    </message>
    <message>
        <source>接收窗口已满，较早的行未能移到文件（%1），暂留在窗口中</source>
        <translation>The receive window is full; older lines could not be moved to a file (%1) and stay in the window</translation>
    </message>
    <message>
        <source>…… 较早的 %1 行已移到 %2</source>
        <translation>…… %1 older lines moved to %2</translation>
    </message>
    <message>
        <source>较早的 %1 行读数在记录文件夹 %2 中</source>
        <translation>%1 older lines of readings are in the journal folder %2</translation>
    </message>
    <message>
        <source>文本文件(*txt)</source>
        <translation>Text files(*txt)</translation>
    </message>
    <message>
        <source>保存失败</source>
        <translation>Save failed</translation>
    </message>
    <message>
        <source>数据未能保存到 %1：%2</source>
        <translation>The data could not be saved to %1: %2</translation>
    </message>
    <message>
        <source>不是有限的数：未画限值线</source>
        <translation>Not a finite number: no limit line drawn</translation>
    </message>
    <message>
        <source>曲线已满 6000 点，读数照常显示和记录；按“Clear”重新开始绘图</source>
        <translation>The plot holds its 6000 points; readings are still shown and journaled. Press &quot;Clear&quot; to plot again</translation>
    </message>
    <message>
        <source>串口 %1 打开失败：%2</source>
        <translation>Serial port %1 could not be opened: %2</translation>
    </message>
    <message>
        <source>串口打开失败！</source>
        <translation>The serial port could not be opened!</translation>
    </message>
    <message>
        <source>串口 %1 已断开（%2），连接已关闭；接好设备后请重新打开串口</source>
        <translation>Serial port %1 was lost (%2) and is closed; connect the device and open the port again</translation>
    </message>
    <message>
        <source>已丢弃 %1 个不成帧的字节（错位或中断的数据）</source>
        <translation>%1 bytes that made no frame were dropped (misaligned or broken data)</translation>
    </message>
    <message>
        <source>不是数字：此限值无效，读数不作判定</source>
        <translation>Not a number: this limit is invalid and readings get no verdict</translation>
    </message>
    <message>
        <source>设置未能保存到 %1：%2</source>
        <translation>The settings could not be saved to %1: %2</translation>
    </message>
    <message>
        <source>%1 不是普通文件，未读取设置</source>
        <translation>%1 is not a regular file; settings not read</translation>
    </message>
    <message>
        <source>%1 中 %2 的值无法读取，已忽略</source>
        <translation>The value of %2 in %1 cannot be read and was ignored</translation>
    </message>
    <message>
        <source>定时发送未启动：勾选状态来自上次的设置，重新勾选“定时发送”或选择间隔后才开始发送</source>
        <translation>Timed sending not started: the tick comes from the last settings; tick &quot;Send every&quot; again or choose an interval to start</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>同名文件已有 %1 个，不覆盖</source>
        <translation>%1 files of that name exist already; nothing overwritten</translation>
    </message>
    <message>
        <source>接收窗口未能保存到 %1：%2</source>
        <translation>The receive window could not be saved to %1: %2</translation>
    </message>
    <message>
        <source>接收窗口已保存到 %1</source>
        <translation>Receive window saved to %1</translation>
    </message>
    <message>
        <source>系统只给了 %1 KiB 的接收缓冲区（请求 %2 KiB）：大量数据报突发时可能丢失</source>
        <translation>The system gave only %1 KiB of receive buffer (asked for %2 KiB): datagrams may be lost in a large burst</translation>
    </message>
    <message>
        <source>已丢弃 %1 个不成帧的字节</source>
        <translation>%1 bytes dropped (no frame of a meter)</translation>
    </message>
</context>
<context>
    <name>Match</name>
    <message>
        <source>%1：第一行不是电芯记录文件的列名</source>
        <translation>%1: the first line is not the header of a cell-record file</translation>
    </message>
    <message>
        <source>%1：没有“电芯编号,容量”行</source>
        <translation>%1: no &quot;cell ID,capacity&quot; lines</translation>
    </message>
    <message>
        <source>没有电芯编号</source>
        <translation>no cell ID</translation>
    </message>
    <message>
        <source>已在电池包 %1 中</source>
        <translation>already in pack %1</translation>
    </message>
    <message>
        <source>没有判定</source>
        <translation>no verdict</translation>
    </message>
    <message>
        <source>判定 %1</source>
        <translation>verdict %1</translation>
    </message>
    <message>
        <source>批次 %1</source>
        <translation>lot %1</translation>
    </message>
    <message>
        <source>等级 %1</source>
        <translation>grade %1</translation>
    </message>
    <message>
        <source>读数不可用（过载或缺失）</source>
        <translation>no usable reading (overload or missing)</translation>
    </message>
    <message>
        <source>容量文件中没有它</source>
        <translation>not in the capacity file</translation>
    </message>
    <message>
        <source>布局不对：串数和并数都要至少为 1</source>
        <translation>Wrong layout: series and parallel must both be at least 1</translation>
    </message>
    <message>
        <source>电芯不够：可用 %1 个，%2 串 × %3 并需要 %4 个</source>
        <translation>Not enough cells: %1 usable, %2S × %3P needs %4</translation>
    </message>
    <message>
        <source>规则无法满足：%1 个可用电芯最多组成 %2 个 %3 并组，需要 %4 组；%5</source>
        <translation>The rules cannot be met: %1 usable cells make at most %2 groups of %3 in parallel, %4 are needed; %5</translation>
    </message>
    <message>
        <source>内部错误：%1 组不合规则，不给出方案</source>
        <translation>Internal error: %1 groups break the rules; no plan given</translation>
    </message>
    <message>
        <source>电芯不够</source>
        <translation>Not enough cells</translation>
    </message>
    <message>
        <source>无法创建文件夹 %1</source>
        <translation>Cannot create the folder %1</translation>
    </message>
    <message>
        <source>%1 被另一个程序占用（packs.lock）</source>
        <translation>%1 is held by another program (packs.lock)</translation>
    </message>
    <message>
        <source>电池包编号 %1 已在配组账中</source>
        <translation>Pack ID %1 is already in the pack ledger</translation>
    </message>
    <message>
        <source>电芯 %1 已在电池包 %2 中</source>
        <translation>Cell %1 is already in pack %2</translation>
    </message>
    <message>
        <source>配组账中没有电池包 %1</source>
        <translation>No pack %1 in the pack ledger</translation>
    </message>
    <message>
        <source>电池包 %1 已经取消过</source>
        <translation>Pack %1 was cancelled already</translation>
    </message>
    <message>
        <source>配组表  电池包 %1   %2 串 × %3 并</source>
        <translation>Assembly sheet  pack %1   %2S × %3P</translation>
    </message>
    <message>
        <source>第 %1 / %2 页   %3</source>
        <translation>Page %1 / %2   %3</translation>
    </message>
    <message>
        <source>规则：组内 ΔR ≤ %1% 平均 R，ΔV ≤ %2 mV    各组 R_g 极差 %3%%4    备用 %5 个</source>
        <translation>Rules: within a group ΔR ≤ %1% of mean R, ΔV ≤ %2 mV    R_g spread over the groups %3%%4    spares %5</translation>
    </message>
    <message>
        <source>，容量极差 %1%</source>
        <translation>, capacity spread %1%</translation>
    </message>
    <message>
        <source>n %1   平均 R %2 mΩ   ΔR %3%   ΔV %4 mV   R_g %5 mΩ</source>
        <translation>n %1   mean R %2 mΩ   ΔR %3%   ΔV %4 mV   R_g %5 mΩ</translation>
    </message>
    <message>
        <source>   容量 %1 mAh</source>
        <translation>   capacity %1 mAh</translation>
    </message>
    <message>
        <source>配组表 %1</source>
        <translation>Assembly sheet %1</translation>
    </message>
    <message>
        <source>无法生成 PDF</source>
        <translation>Cannot make the PDF</translation>
    </message>
    <message>
        <source>电池包 %1：%2 串 × %3 并，组内 ΔR ≤ %4%，ΔV ≤ %5 mV
</source>
        <translation>Pack %1: %2S × %3P, within a group ΔR ≤ %4%, ΔV ≤ %5 mV
</translation>
    </message>
    <message>
        <source>组</source>
        <translation>group</translation>
    </message>
    <message>
        <source>平均R mΩ</source>
        <translation>mean R mΩ</translation>
    </message>
    <message>
        <source>  容量 mAh</source>
        <translation>  cap. mAh</translation>
    </message>
    <message>
        <source>各组 R_g 极差 %1%</source>
        <translation>R_g spread over the groups %1%</translation>
    </message>
    <message>
        <source>（按 R 排序蛇形分配：%1%，%2 组越出规则）</source>
        <translation> (sorted snake by R: %1%, %2 groups breaking the rules)</translation>
    </message>
    <message>
        <source>备用 %1 个%2
</source>
        <translation>Spares %1%2
</translation>
    </message>
    <message>
        <source>未用 %1 个
</source>
        <translation>Not used %1
</translation>
    </message>
    <message>
        <source>  %1（%2 个）：%3
</source>
        <translation>  %1 (%2): %3
</translation>
    </message>
    <message>
        <source>已取消电池包 %1，其电芯可再配组。</source>
        <translation>Pack %1 cancelled; its cells can be matched again.</translation>
    </message>
    <message>
        <source>没有方案：%1</source>
        <translation>No plan: %1</translation>
    </message>
    <message>
        <source>配组账 %1：%2</source>
        <translation>Pack ledger %1: %2</translation>
    </message>
    <message>
        <source>已写入 %1 与配组账 %2</source>
        <translation>Wrote %1 and the pack ledger %2</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>无法创建锁文件 %1（磁盘已满或无写入权限）</source>
        <translation>cannot create the lock file %1 (disk full or no right to write)</translation>
    </message>
    <message>
        <source>电池包 %1 已记入配组账，但文件未能放到位：%2</source>
        <translation>pack %1 is in the ledger, but its files could not be moved into place: %2</translation>
    </message>
    <message>
        <source>读数超出仪表量程（R %1 mΩ，V %2 V）</source>
        <translation>a value no meter shows (R %1 mΩ, V %2 V)</translation>
    </message>
    <message>
        <source>（完整搜索在 %1 步后停止，未能证明无解）</source>
        <translation> (the complete search stopped after %1 steps without proving that none exists)</translation>
    </message>
    <message>
        <source>没有 K 值（记录中没有自放电）</source>
        <translation>no K (its record has no self-discharge)</translation>
    </message>
    <message>
        <source>K %1 mV/天，高于 %2</source>
        <translation>K %1 mV/day, above %2</translation>
    </message>
    <message numerus="yes">
        <source>%n 个文件，%1 条记录（重测覆盖 %2 条，作废 %3 条，跳过 %4 行）；可用电芯 %5 个</source>
        <translation>
            <numerusform>%n file, %1 records (%2 superseded by a new measurement, %3 voided, %4 lines skipped); %5 usable cells</numerusform>
            <numerusform>%n files, %1 records (%2 superseded by a new measurement, %3 voided, %4 lines skipped); %5 usable cells</numerusform>
        </translation>
    </message>
    <message>
        <source>ΔK ≤ %1 mV/天</source>
        <translation>ΔK ≤ %1 mV/day</translation>
    </message>
    <message>
        <source>只按 %1 可组 %2 组</source>
        <translation>%1 alone allows %2 groups</translation>
    </message>
    <message>
        <source>各条规则单独都够，同时满足时不够（%1）</source>
        <translation>each rule alone allows enough, not all of them together (%1)</translation>
    </message>
    <message>
        <source>受 %1 限制（%2）</source>
        <translation>bound by %1 (%2)</translation>
    </message>
    <message>
        <source>，%1</source>
        <translation>, %1</translation>
    </message>
    <message>
        <source>   ΔK %1 mV/天</source>
        <translation>   ΔK %1 mV/day</translation>
    </message>
    <message>
        <source>组内 ΔK ≤ %1 mV/天</source>
        <translation>ΔK ≤ %1 mV/day within a group</translation>
    </message>
    <message>
        <source>K ≤ %1 mV/天</source>
        <translation>K ≤ %1 mV/day</translation>
    </message>
    <message>
        <source>  ΔK mV/天</source>
        <translation>  ΔK mV/day</translation>
    </message>
    <message>
        <source>（接 −）</source>
        <translation> (to −)</translation>
    </message>
    <message>
        <source>（接 +）</source>
        <translation> (to +)</translation>
    </message>
    <message>
        <source>第 %1 组  串位 %1/%2%3</source>
        <translation>Group %1  series %1/%2%3</translation>
    </message>
    <message>
        <source>%1-%2</source>
        <translation>%1-%2</translation>
    </message>
    <message>
        <source>备用电芯（%1 个）：%2</source>
        <translation>Spares (%1): %2</translation>
    </message>
    <message>
        <source>  …… 另 %1 个见配组文件</source>
        <translation>  … %1 more in the plan file</translation>
    </message>
    <message>
        <source>装配人</source>
        <translation>Assembled by</translation>
    </message>
    <message>
        <source>日期</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>签名</source>
        <translation>Signature</translation>
    </message>
    <message>
        <source>复核</source>
        <translation>Checked by</translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
</context>
<context>
    <name>Mqtt</name>
    <message>
        <source>主题“%1”无效：不能为空，不能含 + 或 #</source>
        <translation>The topic &quot;%1&quot; is invalid: it must not be empty nor hold + or #</translation>
    </message>
    <message>
        <source>TLS 设置失败：%1</source>
        <translation>TLS set-up failed: %1</translation>
    </message>
    <message>
        <source>发布到“%1”被拒绝：%2</source>
        <translation>Publishing to &quot;%1&quot; refused: %2</translation>
    </message>
    <message>
        <source>%1：%2，从该文件开头重新发送</source>
        <translation>%1: %2; sending again from the start of that file</translation>
    </message>
    <message>
        <source>位置 %1 不是行首</source>
        <translation>position %1 is no line start</translation>
    </message>
    <message>
        <source>文件变短了</source>
        <translation>the file got shorter</translation>
    </message>
    <message>
        <source>文件被替换</source>
        <translation>the file was replaced</translation>
    </message>
    <message>
        <source>记录的位置 %1 无效</source>
        <translation>the recorded position %1 is invalid</translation>
    </message>
    <message>
        <source>记录的位置 %1 不是行首</source>
        <translation>the recorded position %1 is no line start</translation>
    </message>
    <message>
        <source>密码文件无法读取：%1</source>
        <translation>The password file cannot be read: %1</translation>
    </message>
    <message>
        <source>密码文件 %1 其他用户也可读写，不使用（chmod 600）</source>
        <translation>Other users can read or write the password file %1; not used (chmod 600)</translation>
    </message>
    <message>
        <source>拒绝连接 %1:%2：设置了密码却没有 TLS（[MQTT] CaFile），密码会明文传输；确需如此请设 [MQTT] AllowPlainPassword=true</source>
        <translation>Refusing to connect to %1:%2: a password is set without TLS ([MQTT] CaFile), so it would cross the network in plain text; if that is really meant, set [MQTT] AllowPlainPassword=true</translation>
    </message>
    <message>
        <source>MQTT 已连接 %1</source>
        <translation>MQTT connected %1</translation>
    </message>
    <message>
        <source>MQTT 正在重连 %1</source>
        <translation>MQTT reconnecting %1</translation>
    </message>
    <message>
        <source>，积压 %1</source>
        <translation>, backlog %1</translation>
    </message>
    <message>
        <source>，积压 ≥%1（正在清点）</source>
        <translation>, backlog ≥%1 (counting)</translation>
    </message>
    <message>
        <source>%1 已损坏，改用备份 %2</source>
        <translation>%1 is damaged; using the backup %2</translation>
    </message>
    <message>
        <source>%1 已损坏且没有可用备份，全部重新发送</source>
        <translation>%1 is damaged and has no usable backup; sending everything again</translation>
    </message>
    <message>
        <source>%1 上的重发请求不予处理：%2</source>
        <translation>replay request on %1 not taken: %2</translation>
    </message>
    <message>
        <source>按 %1 的请求重发 %2 %3 第 %4–%5 行</source>
        <translation>replaying %2 of %3, lines %4–%5, as asked on %1</translation>
    </message>
    <message>
        <source>，重发请求 %1 个</source>
        <translation>, %1 replay request(s)</translation>
    </message>
    <message>
        <source>stream 须为 readings、cells 或 packs</source>
        <translation>stream must be readings, cells or packs</translation>
    </message>
    <message>
        <source>day 须为日期（2026-12-08）</source>
        <translation>day must be a date (2026-12-08)</translation>
    </message>
    <message>
        <source>from 与 to 须为整数行号</source>
        <translation>from and to must be whole line numbers</translation>
    </message>
    <message>
        <source>行号须满足 1 ≤ from ≤ to</source>
        <translation>lines must satisfy 1 ≤ from ≤ to</translation>
    </message>
    <message>
        <source>一次最多重发 1000000 行</source>
        <translation>at most 1000000 lines in one request</translation>
    </message>
    <message>
        <source>未知 CA：代理的证书不是由 %1 中的 CA 签发的</source>
        <translation>unknown CA: the broker&apos;s certificate is not signed by the CA in %1</translation>
    </message>
    <message>
        <source>未知 CA：代理的证书是自签名的，不是 %1 中的 CA</source>
        <translation>unknown CA: the broker&apos;s certificate is self-signed, not the CA in %1</translation>
    </message>
    <message>
        <source>名称不符：代理的证书不是签发给 %1 的</source>
        <translation>name mismatch: the broker&apos;s certificate is not for %1</translation>
    </message>
    <message>
        <source>代理的证书不被接受</source>
        <translation>the broker&apos;s certificate is refused</translation>
    </message>
    <message>
        <source>代理要求客户端证书（CertFile 与 KeyFile）</source>
        <translation>client certificate required: the broker asks for one (CertFile and KeyFile)</translation>
    </message>
    <message>
        <source>代理不接受本站的客户端证书</source>
        <translation>client certificate refused: the broker does not accept this station&apos;s certificate</translation>
    </message>
    <message>
        <source>代理说本站的客户端证书已过期</source>
        <translation>client certificate expired, says the broker</translation>
    </message>
    <message>
        <source>代理说本站的客户端证书已被吊销</source>
        <translation>client certificate revoked, says the broker</translation>
    </message>
    <message>
        <source>代理拒绝连接</source>
        <translation>the broker refused the connection</translation>
    </message>
    <message>
        <source>MQTT 代理地址 %1 无效</source>
        <translation>the MQTT broker&apos;s address %1 is not valid</translation>
    </message>
    <message>
        <source>拒绝连接 %1：设置了客户端证书（CertFile/KeyFile）却没有 CA 文件（CaFile），连接会是明文的</source>
        <translation>refusing to connect to %1: a client certificate (CertFile/KeyFile) is set but no CA file (CaFile), so the connection would be plain text</translation>
    </message>
    <message>
        <source>客户端证书与密钥要一起设置（CertFile 与 KeyFile）</source>
        <translation>a client certificate and its key go together (CertFile and KeyFile)</translation>
    </message>
    <message>
        <source>TLS 文件 %1 无法读取：%2</source>
        <translation>TLS file %1 cannot be read: %2</translation>
    </message>
    <message>
        <source>连接被拒绝：该端口上没有程序在监听</source>
        <translation>refused: nothing listens on that port</translation>
    </message>
    <message>
        <source>无法到达</source>
        <translation>cannot be reached</translation>
    </message>
    <message>
        <source>%1 秒内没有应答（超时）</source>
        <translation>no answer within %1 s (timed out)</translation>
    </message>
    <message>
        <source>不再应答心跳（%1 秒），连接已断开</source>
        <translation>no answer to pings (%1 s): connection dropped</translation>
    </message>
    <message>
        <source>连接中断</source>
        <translation>connection lost</translation>
    </message>
    <message>
        <source>TLS 握手被对方中断</source>
        <translation>TLS handshake cut by the other side</translation>
    </message>
    <message>
        <source>对方不说 TLS（端口对吗？）</source>
        <translation>the other side does not speak TLS (is it the right port?)</translation>
    </message>
    <message>
        <source>连接失败</source>
        <translation>connecting failed</translation>
    </message>
    <message>
        <source>代理的证书已过期</source>
        <translation>the broker&apos;s certificate expired</translation>
    </message>
    <message>
        <source>代理的证书尚未生效（本机时钟对吗？）</source>
        <translation>the broker&apos;s certificate is not valid yet (is this computer&apos;s clock right?)</translation>
    </message>
    <message>
        <source>%1 在其日期过后又写入了行（时钟被调回过？），从第 %2 行起发布</source>
        <translation>%1 got lines after its day had passed (was the clock set back?): publishing them from line %2</translation>
    </message>
    <message>
        <source>%1 已损坏，各文件从现在的末尾重新清点</source>
        <translation>%1 is damaged; each file is tallied again from where it ends now</translation>
    </message>
</context>
<context>
    <name>Punctuation</name>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
</context>
<context>
    <name>Report</name>
    <message>
        <source>限值组 %1</source>
        <translation>limit set %1</translation>
    </message>
    <message>
        <source>限值组 %1: %2</source>
        <translation>limit set %1: %2</translation>
    </message>
    <message>
        <source>%1：第一行不是记录文件的列名</source>
        <translation>%1: the first line is not the header of a journal file</translation>
    </message>
    <message>
        <source>单体 全部</source>
        <translation>Cells, all</translation>
    </message>
    <message>
        <source>单体 批次 %1</source>
        <translation>Cells, lot %1</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>工位 %1</source>
        <translation>Station %1</translation>
    </message>
    <message>
        <source>%1 的下限高于上限：不计算 Cp/Cpk</source>
        <translation>the low limit of %1 is above the high one: no Cp/Cpk</translation>
    </message>
    <message>
        <source>  n %1   PASS %2   NG %3   无判定 %4   良率 %5%
</source>
        <translation>  n %1   PASS %2   NG %3   no verdict %4   yield %5%
</translation>
    </message>
    <message>
        <source>  等级 %1
</source>
        <translation>  grades %1
</translation>
    </message>
    <message>
        <source>数量</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>Zentrel 质量报告</source>
        <translation>Zentrel quality report</translation>
    </message>
    <message>
        <source>限值在数据中改变过：每段限值单独统计。</source>
        <translation>The limits changed within the data: each period of limits is counted on its own.</translation>
    </message>
    <message>
        <source>R 的分布，限值与拟合正态曲线</source>
        <translation>Distribution of R, limits and fitted normal curve</translation>
    </message>
    <message>
        <source>V 的分布，限值与拟合正态曲线</source>
        <translation>Distribution of V, limits and fitted normal curve</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>R 随时间（红：限值；绿：均值 ± 3σ）</source>
        <translation>R over time (red: limits; green: mean ± 3σ)</translation>
    </message>
    <message>
        <source>各工位的 R（箱线图：最小、四分位、中位、最大）</source>
        <translation>R per station (box plot: min, quartiles, median, max)</translation>
    </message>
    <message>
        <source>无法生成 PDF</source>
        <translation>Cannot make the PDF</translation>
    </message>
    <message>
        <source>读取中：%1 行…</source>
        <translation>Reading: %1 lines…</translation>
    </message>
    <message>
        <source>内存不足</source>
        <translation>out of memory</translation>
    </message>
    <message>
        <source>数据库 %1：%2</source>
        <translation>database %1: %2</translation>
    </message>
    <message>
        <source>数据库 %1，行 %2，跳过（超出量程）%3</source>
        <translation>Database %1, rows %2, skipped (beyond the meter&apos;s range) %3</translation>
    </message>
    <message>
        <source>数据库 %1，%2 行，跳过 %3 行（超出量程）</source>
        <translation>Database %1, %2 rows, %3 skipped (beyond the meter&apos;s range)</translation>
    </message>
    <message>
        <source>  控制图 %1  中心 %2  σ̂ %3  UCL %4  LCL %5  信号 %6
</source>
        <translation>  Control chart %1  centre %2  σ̂ %3  UCL %4  LCL %5  signals %6
</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>规则%1×%2</source>
        <translation>rule %1×%2</translation>
    </message>
    <message>
        <source>读数序号（时间顺序）</source>
        <translation>Reading number (in time order)</translation>
    </message>
    <message>
        <source>……共 %1 个</source>
        <translation>… %1 in all</translation>
    </message>
    <message>
        <source>期间</source>
        <translation>Period</translation>
    </message>
    <message>
        <source>筛选</source>
        <translation>Filters</translation>
    </message>
    <message>
        <source>工位：%1；批次：%2</source>
        <translation>stations: %1; lots: %2</translation>
    </message>
    <message>
        <source>来源</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>工位</source>
        <translation>Stations</translation>
    </message>
    <message>
        <source>批次</source>
        <translation>Lots</translation>
    </message>
    <message>
        <source>生成于</source>
        <translation>Made</translation>
    </message>
    <message>
        <source>限值</source>
        <translation>Limits</translation>
    </message>
    <message>
        <source>未能读取：%1</source>
        <translation>Not read: %1</translation>
    </message>
    <message>
        <source>……另有 %1 个文件</source>
        <translation>… and %1 more files</translation>
    </message>
    <message>
        <source>范围</source>
        <translation>Scope</translation>
    </message>
    <message>
        <source>良率 %</source>
        <translation>Yield %</translation>
    </message>
    <message>
        <source>R 均值</source>
        <translation>R mean</translation>
    </message>
    <message>
        <source>V 均值</source>
        <translation>V mean</translation>
    </message>
    <message>
        <source>控制图信号</source>
        <translation>Chart signals</translation>
    </message>
    <message>
        <source>统计表（%1/%2）</source>
        <translation>Table (%1/%2)</translation>
    </message>
    <message>
        <source>统计表</source>
        <translation>Table</translation>
    </message>
    <message>
        <source>Cpk：绿 ≥ 1.33，黄 1.0–1.33，红 &lt; 1.0。良率按同样的界限换算：绿 ≥ 99.994%，黄 ≥ 99.73%，红更低。控制图信号：各组按时间顺序的 R、V 违反判异规则的次数（见各组的控制图页）。</source>
        <translation>Cpk: green ≥ 1.33, amber 1.0–1.33, red &lt; 1.0. Yield by the same bounds: green ≥ 99.994%, amber ≥ 99.73%, red below. Chart signals: how often R and V of the group, in time order, broke a control-chart rule (see the group&apos;s control-chart page).</translation>
    </message>
    <message>
        <source>控制图（单值-移动极差）：%1</source>
        <translation>Control charts (individuals and moving range): %1</translation>
    </message>
    <message>
        <source>%1。控制限 = 中心 ± 3σ̂（σ̂ = 平均移动极差 / 1.128），来自这些读数本身，不是规格限。</source>
        <translation>%1. Control limits = centre ± 3σ̂ (σ̂ = average moving range / 1.128), from these readings themselves; they are not the limits a cell is judged by.</translation>
    </message>
    <message>
        <source>移动极差</source>
        <translation>Moving range</translation>
    </message>
    <message>
        <source>%1 移动极差图</source>
        <translation>%1 moving range</translation>
    </message>
    <message>
        <source>没有信号：过程在这些读数中是稳定的。</source>
        <translation>No signal: the process was stable over these readings.</translation>
    </message>
    <message>
        <source>%1 规则 %2：%3 — %4 次</source>
        <translation>%1 rule %2: %3 — %4 times</translation>
    </message>
    <message>
        <source>    （控制图取自样本：%1 个读数中每 %2 个取 1 个，共 %3 个）
</source>
        <translation>    (control chart from a sample: 1 in %2 of %1 readings, %3 in all)
</translation>
    </message>
    <message>
        <source>CONNINFO 含密码（任何用户都能用 ps 看到）；请把密码放在 ~/.pgpass 或 PGPASSFILE 指定的文件里</source>
        <translation>the CONNINFO holds a password, which every user can read (ps); put it in ~/.pgpass or the file PGPASSFILE names</translation>
    </message>
    <message>
        <source>数据库 %1：缺 %2 行（%3 段）</source>
        <translation>database %1: %2 lines missing (%3 runs)</translation>
    </message>
    <message>
        <source>数据库的架构版本为 %1，本报表需要 %2；请先用同一版本的 zentrel-ingest 连接它一次（它会升级架构）</source>
        <translation>the database is at schema version %1, this report needs %2; connect a zentrel-ingest of the same release to it once first (it brings the schema up)</translation>
    </message>
    <message numerus="yes">
        <source>电池良率 %1（%n 个电池记录）
</source>
        <translation>
            <numerusform>Cell yield %1 (%n cell record)
</numerusform>
            <numerusform>Cell yield %1 (%n cell records)
</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>读数良率（仅稳定接触）%1（%n 个读数）
</source>
        <translation>
            <numerusform>Readings yield (settled contact only) %1 (%n reading)
</numerusform>
            <numerusform>Readings yield (settled contact only) %1 (%n readings)
</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>全部读数良率 %1（%n 个读数，含接触过程和抬起的探针）
</source>
        <translation>
            <numerusform>Yield of all readings %1 (%n reading, contact transients and lifted probes included)
</numerusform>
            <numerusform>Yield of all readings %1 (%n readings, contact transients and lifted probes included)
</numerusform>
        </translation>
    </message>
    <message>
        <source>  稳定接触的读数 %1   PASS %2   NG %3   良率 %4%
</source>
        <translation>  settled contact readings %1   PASS %2   NG %3   yield %4%
</translation>
    </message>
    <message>
        <source>  能力 %1  %2  %3  %4  %5  （95% 置信区间）
</source>
        <translation>  Capability %1  %2  %3  %4  %5  (95% confidence intervals)
</translation>
    </message>
    <message>
        <source>    注意：数据不呈正态（Anderson–Darling A² %1，p %2），以上指数假定正态，可能误导
</source>
        <translation>    Note: the data are not normal (Anderson–Darling A² %1, p %2); the indices above assume normality and may mislead
</translation>
    </message>
    <message numerus="yes">
        <source>    （控制限已修正：%n 个超出试算控制限的读数未计入）
</source>
        <translation>
            <numerusform>    (limits revised: %n reading beyond the trial limits left out)
</numerusform>
            <numerusform>    (limits revised: %n readings beyond the trial limits left out)
</numerusform>
        </translation>
    </message>
    <message>
        <source>不检查（混有多个工位）</source>
        <translation>not checked (stations mixed)</translation>
    </message>
    <message>
        <source>%1（X̄-R，子组 %2）</source>
        <translation>%1 (X̄-R, subgroups of %2)</translation>
    </message>
    <message>
        <source>不检查</source>
        <translation>not checked</translation>
    </message>
    <message>
        <source>子组序号（时间顺序）</source>
        <translation>Subgroup (in time order)</translation>
    </message>
    <message>
        <source>信号 %1 个</source>
        <translation>%1 signals</translation>
    </message>
    <message>
        <source>不检查判异规则</source>
        <translation>rules not checked</translation>
    </message>
    <message>
        <source>，样本：%1 个读数每 %2 个取 1 个</source>
        <translation>, a sample: 1 in %2 of %1 readings</translation>
    </message>
    <message>
        <source>%1 均值图（子组 %2，%3 个子组，n = %4%5，%6）</source>
        <translation>%1 X̄ chart (subgroups of %2, %3 subgroups, n = %4%5, %6)</translation>
    </message>
    <message>
        <source>%1 单值图（n = %2%3，%4）</source>
        <translation>%1 individuals chart (n = %2%3, %4)</translation>
    </message>
    <message>
        <source>极差</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>%1 极差图</source>
        <translation>%1 R chart</translation>
    </message>
    <message>
        <source>子组</source>
        <translation>subgroup</translation>
    </message>
    <message>
        <source>读数</source>
        <translation>reading</translation>
    </message>
    <message>
        <source>%1 规则 %2：%3 — %4 次，首次在第 %5 个%7（%6）</source>
        <translation>%1 rule %2: %3 — %4 times, first at %7 %5 (%6)</translation>
    </message>
    <message>
        <source>控制图（均值-极差，子组 %1）：%2</source>
        <translation>Control charts (X̄-R, subgroups of %1): %2</translation>
    </message>
    <message>
        <source>%1。超过 %2 个读数的组按连续 %3 个读数一个子组作图：均值图的控制限 = X̿ ± A2·R̄（A2 = 0.577），极差图 D3·R̄ 到 D4·R̄（0 到 2.114·R̄），来自这些读数本身，不是规格限；判异规则用于子组均值。</source>
        <translation>%1. A group of more than %2 readings is charted by subgroups of %3 consecutive readings: the X̄ chart&apos;s limits are X̿ ± A2·R̄ (A2 = 0.577), the R chart&apos;s D3·R̄ to D4·R̄ (0 to 2.114·R̄), from these readings themselves, not the limits cells are judged by; the rules apply to the subgroup means.</translation>
    </message>
    <message>
        <source>这一组混有多个工位的读数，不检查判异规则：各工位的控制图在各自的页上。</source>
        <translation>This group mixes several stations&apos; readings, so the rules are not checked: each station is charted on its own page.</translation>
    </message>
    <message>
        <source>累积百分比 %</source>
        <translation>Cumulative percent</translation>
    </message>
    <message>
        <source>规格</source>
        <translation>Limits</translation>
    </message>
    <message>
        <source>整体 ±3σ</source>
        <translation>Overall ±3σ</translation>
    </message>
    <message>
        <source>组内 ±3σ</source>
        <translation>Within ±3σ</translation>
    </message>
    <message>
        <source>能力指数（95% 置信区间）</source>
        <translation>Capability indices (95 % confidence intervals)</translation>
    </message>
    <message>
        <source>n = %1，均值 %2</source>
        <translation>n = %1, mean %2</translation>
    </message>
    <message>
        <source>σ 组内 %1，σ 整体 %2</source>
        <translation>σ within %1, σ overall %2</translation>
    </message>
    <message>
        <source>正态性（Anderson–Darling）：A² %1，p %2（%3 个读数）</source>
        <translation>Normality (Anderson–Darling): A² %1, p %2 (%3 readings)</translation>
    </message>
    <message>
        <source>数据不呈正态（p &lt; 0.05）：这些指数假定正态分布，可能误导。</source>
        <translation>The data do not look normal (p &lt; 0.05): these indices assume a normal distribution and may mislead.</translation>
    </message>
    <message>
        <source>过程能力：%1 — %2</source>
        <translation>Process capability: %1 — %2</translation>
    </message>
    <message>
        <source>分布、规格限与正态曲线（橙：整体，绿虚线：组内）</source>
        <translation>Distribution, limits and normal curves (orange: overall, green dashed: within)</translation>
    </message>
    <message>
        <source>正态概率图</source>
        <translation>Normal probability plot</translation>
    </message>
    <message>
        <source>过程范围与规格</source>
        <translation>Process spread and limits</translation>
    </message>
    <message>
        <source>K（mV/天）批次 %1  %2 → %3  n %4  均值 %5  σ %6  最小 %7  P5 %8  中位 %9  P95 %10  最大 %11
</source>
        <translation>K (mV/day) lot %1  %2 → %3  n %4  mean %5  σ %6  min %7  P5 %8  median %9  P95 %10  max %11
</translation>
    </message>
    <message>
        <source>    超出 K 限值 %1 个：%2
</source>
        <translation>    %1 beyond the K bound: %2
</translation>
    </message>
    <message>
        <source>自放电 K：批次 %1，%2 → %3</source>
        <translation>Self-discharge K: lot %1, %2 → %3</translation>
    </message>
    <message>
        <source>K (mV/天)</source>
        <translation>K (mV/day)</translation>
    </message>
    <message>
        <source>K 的分布（绿：均值）</source>
        <translation>Distribution of K (green: mean)</translation>
    </message>
    <message>
        <source>没有电池因 K 判为 NG。</source>
        <translation>No cell NG by K.</translation>
    </message>
    <message>
        <source>因 K 判为 NG 的电池（%1 个）：%2</source>
        <translation>Cells NG by K (%1): %2</translation>
    </message>
    <message>
        <source>%1：少于两个读数（子组），或读数都相同，没有控制图。</source>
        <translation>%1: fewer than two readings (subgroups), or all of them alike: no control chart.</translation>
    </message>
    <message>
        <source>；数据截至 %1（采集程序最后一次提交）</source>
        <translation>; data up to %1 (the ingests&apos; last commit)</translation>
    </message>
    <message>
        <source>数据截至 %1（采集程序最后一次提交）</source>
        <translation>Data up to %1 (the ingests&apos; last commit)</translation>
    </message>
    <message numerus="yes">
        <source>文件 %n 个（未能读取 %1 个），读数行 %2，跳过（格式不对或断行）%3</source>
        <translation>
            <numerusform>%n file (%1 could not be read), %2 lines, %3 skipped (malformed or torn)</numerusform>
            <numerusform>%n files (%1 could not be read), %2 lines, %3 skipped (malformed or torn)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个文件，%1 行，跳过 %2 行（格式不对或断行）</source>
        <translation>
            <numerusform>%n file, %1 lines, %2 lines skipped (malformed or torn)</numerusform>
            <numerusform>%n files, %1 lines, %2 lines skipped (malformed or torn)</numerusform>
        </translation>
    </message>
    <message>
        <source>  R (mΩ)  均值 %1  σ %2  最小 %3  最大 %4
</source>
        <translation>  R (mΩ)  mean %1  σ %2  min %3  max %4
</translation>
    </message>
    <message>
        <source>  V (V)   均值 %1  σ %2  最小 %3  最大 %4
</source>
        <translation>  V (V)   mean %1  σ %2  min %3  max %4
</translation>
    </message>
    <message>
        <source>  控制图和能力：无。读数是一次次接触测的，每次一个电池，读数的高低是电池之间的差别，不是过程的变化；见单体记录的组
</source>
        <translation>  Control charts and capability: none. The readings were taken contact by contact, one cell each; their levels are the differences between cells, not changes of the process: see the groups of cell records
</translation>
    </message>
    <message>
        <source>    （控制限未修正：%1 个读数中 %2 个超出试算控制限，多于四分之一，不是一个过程外的几个异常；试算控制限保留）
</source>
        <translation>    (limits not revised: %2 of %1 readings lie beyond the trial limits, more than a quarter, not a few outliers of one process; the trial limits stand)
</translation>
    </message>
    <message>
        <source>K = (%1 的电压 − %2 的电压) × 1000 / 静置天数（mV/天），如工位所算：每个电池取它在 %2 之前 %9 天内最近一次有效的 %1 记录，静置不足限值组的最少天数则没有 K；一个电池在一个批次和工序中只计最近一次记录。n = %3 个电池，均值 %4，σ %5，P5 %6，中位 %7，P95 %8。</source>
        <translation>K = (V at %1 − V at %2) × 1000 / days of rest (mV/day), as the station worked it out: each cell&apos;s latest valid %1 record within %9 days before %2; a rest shorter than the set&apos;s fewest days gives none; a cell counts once per lot and stage, by its latest record. n = %3 cells, mean %4, σ %5, P5 %6, median %7, P95 %8.</translation>
    </message>
    <message>
        <source>没有 K 的电池：%1。</source>
        <translation>Cells without K: %1.</translation>
    </message>
    <message>
        <source>没有前一工序的记录</source>
        <translation>no record at the earlier stage</translation>
    </message>
    <message>
        <source>静置天数不足</source>
        <translation>rest too short</translation>
    </message>
    <message>
        <source>    没有 K 的电池：%1
</source>
        <translation>    Cells without K: %1
</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>同名文件夹挡住了设置文件</source>
        <translation>A folder of the same name stands in the way of the settings file</translation>
    </message>
    <message>
        <source>无法建立临时文件：%1</source>
        <translation>Cannot create a temporary file: %1</translation>
    </message>
    <message>
        <source>临时文件 %1 写入失败</source>
        <translation>Writing the temporary file %1 failed</translation>
    </message>
    <message>
        <source>%1：[Station] %2 含有控制字符或换行（U+%3），未使用</source>
        <translation>%1: [Station] %2 holds a control character or line break (U+%3); not used</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>Zentrel  本机IP: %1</source>
        <translation>Zentrel  Local IP: %1</translation>
    </message>
</context>
<context>
    <name>Station</name>
    <message>
        <source>%1.%2 缺少</source>
        <translation>%1.%2 is missing</translation>
    </message>
    <message>
        <source>%1.%2 不是数字</source>
        <translation>%1.%2 is not a number</translation>
    </message>
    <message>
        <source>%1 不是对象</source>
        <translation>%1 is not an object</translation>
    </message>
    <message>
        <source>%1.percent 须在 0–100 之间（是 %2）</source>
        <translation>%1.percent must be within 0–100 (is %2)</translation>
    </message>
    <message>
        <source>%1.low（%2）高于 high（%3）</source>
        <translation>%1.low (%2) is above high (%3)</translation>
    </message>
    <message>
        <source>%1：%2（第 %3 字节）</source>
        <translation>%1: %2 (byte %3)</translation>
    </message>
    <message>
        <source>第 %1 组</source>
        <translation>Group %1</translation>
    </message>
    <message>
        <source>name 缺少或不是文字</source>
        <translation>name is missing or not text</translation>
    </message>
    <message>
        <source>与前面的组同名</source>
        <translation>the same name as an earlier set</translation>
    </message>
    <message>
        <source>grades 不是数组</source>
        <translation>grades is not an array</translation>
    </message>
    <message>
        <source>%1.name 缺少或不是文字</source>
        <translation>%1.name is missing or not text</translation>
    </message>
    <message>
        <source>%1.rLow 高于 rHigh</source>
        <translation>%1.rLow is above rHigh</translation>
    </message>
    <message>
        <source>限值组%1未载入：%2</source>
        <translation>Limit set %1 not loaded: %2</translation>
    </message>
    <message>
        <source>%1.%2 不是文字</source>
        <translation>%1.%2 is not text</translation>
    </message>
    <message>
        <source>%1 不是文字</source>
        <translation>%1 is not text</translation>
    </message>
    <message>
        <source>minRestDays 不能为负（是 %1）</source>
        <translation>minRestDays cannot be negative (it is %1)</translation>
    </message>
    <message>
        <source>%1.kLow 高于 kHigh</source>
        <translation>%1.kLow is above kHigh</translation>
    </message>
    <message>
        <source>工厂数据库 %1 无法查询前一工序：%2</source>
        <translation>The plant database %1 cannot be asked for the earlier stage: %2</translation>
    </message>
    <message>
        <source>kMissing 只能是 &quot;pass&quot; 或 &quot;ng&quot;</source>
        <translation>kMissing is &quot;pass&quot; or &quot;ng&quot;</translation>
    </message>
    <message>
        <source>retestNg 只能是 true 或 false</source>
        <translation>retestNg is true or false</translation>
    </message>
</context>
<context>
    <name>WindowCapabilities</name>
    <message>
        <source>限值组未能记入 config.ini：%1</source>
        <translation>The limit set could not be saved in config.ini: %1</translation>
    </message>
    <message>
        <source>MQTT 未启用：发布需要开着记录（journal）</source>
        <translation>MQTT off: publishing needs the journal on</translation>
    </message>
    <message>
        <source>串口 %1 已重新连接</source>
        <translation>Serial port %1 reconnected</translation>
    </message>
    <message>
        <source>不记录：%1</source>
        <translation>Not journaling: %1</translation>
    </message>
    <message>
        <source>记录未写完</source>
        <translation>Journal not written</translation>
    </message>
    <message>
        <source>%1 条读数还在内存中，无法写入：%2</source>
        <translation>%1 readings are still in memory and cannot be written: %2</translation>
    </message>
    <message>
        <source>继续尝试</source>
        <translation>Keep trying</translation>
    </message>
    <message>
        <source>写到其他文件夹…</source>
        <translation>Write to another folder…</translation>
    </message>
    <message>
        <source>退出并丢弃 %1 条读数</source>
        <translation>Quit and discard %1 readings</translation>
    </message>
    <message>
        <source>把读数写到</source>
        <translation>Write the readings to</translation>
    </message>
    <message>
        <source>串口 %1 已打开（%2 波特）</source>
        <translation>Serial port %1 open (%2 baud)</translation>
    </message>
    <message>
        <source>串口 %1 打开失败：%2</source>
        <translation>Serial port %1 could not be opened: %2</translation>
    </message>
    <message>
        <source>语言未能记入 config.ini：%1</source>
        <translation>The language could not be saved in config.ini: %1</translation>
    </message>
    <message>
        <source>批次未能记入 config.ini：%1</source>
        <translation>The lot could not be written to config.ini: %1</translation>
    </message>
</context>
<context>
    <name>match::PackDialog</name>
    <message>
        <source>配组 — 批次 %1</source>
        <translation>Pack matching — lot %1</translation>
    </message>
    <message>
        <source>（全部）</source>
        <translation>(all)</translation>
    </message>
    <message>
        <source>留空：所有等级；或如 A,B</source>
        <translation>Empty: every grade; or e.g. A,B</translation>
    </message>
    <message>
        <source>串 ×</source>
        <translation>series ×</translation>
    </message>
    <message>
        <source>并</source>
        <translation>parallel</translation>
    </message>
    <message>
        <source>布局</source>
        <translation>Layout</translation>
    </message>
    <message>
        <source>组内 ΔR ≤</source>
        <translation>ΔR within a group ≤</translation>
    </message>
    <message>
        <source>组内 ΔV ≤</source>
        <translation>ΔV within a group ≤</translation>
    </message>
    <message>
        <source>等级</source>
        <translation>Grade</translation>
    </message>
    <message>
        <source>配组</source>
        <translation>Match</translation>
    </message>
    <message>
        <source>保存配组表…</source>
        <translation>Save sheet…</translation>
    </message>
    <message>
        <source>打印…</source>
        <translation>Print…</translation>
    </message>
    <message>
        <source>记入配组账</source>
        <translation>Add to pack ledger</translation>
    </message>
    <message>
        <source>电池包 %1：%2 串 × %3 并，各组 R_g 极差 %4%，备用 %5 个，未用 %6 个</source>
        <translation>Pack %1: %2S × %3P, R_g spread over the groups %4%, %5 spares, %6 not used</translation>
    </message>
    <message>
        <source>没有方案：%1</source>
        <translation>No plan: %1</translation>
    </message>
    <message>
        <source>保存配组表</source>
        <translation>Save the assembly sheet</translation>
    </message>
    <message>
        <source>PDF (*.pdf);;PNG (*.png)</source>
        <translation>PDF (*.pdf);;PNG (*.png)</translation>
    </message>
    <message>
        <source>已保存 %1</source>
        <translation>Saved %1</translation>
    </message>
    <message>
        <source>未能保存 %1：%2</source>
        <translation>Could not save %1: %2</translation>
    </message>
    <message>
        <source>未记入配组账：%1</source>
        <translation>Not added to the pack ledger: %1</translation>
    </message>
    <message>
        <source>电池包 %1 已记入配组账（%2）</source>
        <translation>Pack %1 added to the pack ledger (%2)</translation>
    </message>
    <message>
        <source>不限</source>
        <translation>no limit</translation>
    </message>
    <message>
        <source>组内 ΔK ≤</source>
        <translation>ΔK in a group ≤</translation>
    </message>
    <message>
        <source>K 上限</source>
        <translation>K at most</translation>
    </message>
    <message>
        <source> mV/天</source>
        <translation> mV/day</translation>
    </message>
</context>
<context>
    <name>station::CellRecorder</name>
    <message>
        <source>没有可记录的读数：探针未接触电池</source>
        <translation>No reading to record: the probes are not on a cell</translation>
    </message>
    <message>
        <source>太长：最多 %1 个字符（输入了 %2 个）</source>
        <translation>Too long: at most %1 characters (%2 entered)</translation>
    </message>
    <message>
        <source>含有控制字符或换行（U+%1）</source>
        <translation>holds a control character or line break (U+%1)</translation>
    </message>
    <message>
        <source>未接受的编号：%1</source>
        <translation>ID not accepted: %1</translation>
    </message>
    <message>
        <source>限值组已改为 %1：统计重新开始</source>
        <translation>Limit set changed to %1: statistics start again</translation>
    </message>
    <message>
        <source>上次的限值组“%1”已不在限值组文件中：未选用限值组</source>
        <translation>The last limit set &quot;%1&quot; is no longer in the limit-set file: no set chosen</translation>
    </message>
    <message>
        <source>未接受的批次名称：%1</source>
        <translation>Lot name not accepted: %1</translation>
    </message>
    <message>
        <source>新批次 %1：统计重新开始</source>
        <translation>New lot %1: statistics start again</translation>
    </message>
    <message>
        <source>未记录：请先开始批次（新批次…）</source>
        <translation>Not recorded: start a lot first (New lot…)</translation>
    </message>
    <message>
        <source>先扫码</source>
        <translation>Scan first</translation>
    </message>
    <message numerus="yes">
        <source>批次 %1 继续：今天已有 %n 条记录</source>
        <translation>
            <numerusform>Lot %1 continues: %n record today</numerusform>
            <numerusform>Lot %1 continues: %n records today</numerusform>
        </translation>
    </message>
    <message>
        <source>NG（%1）：请重新放置电池，再测一次</source>
        <translation>NG (%1): place the cell again and measure once more</translation>
    </message>
</context>
<context>
    <name>station::RecordsTable</name>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>电池编号</source>
        <translation>Cell ID</translation>
    </message>
    <message>
        <source>判定</source>
        <translation>Verdict</translation>
    </message>
    <message>
        <source>等级</source>
        <translation>Grade</translation>
    </message>
    <message>
        <source>R (mΩ)</source>
        <translation>R (mΩ)</translation>
    </message>
    <message>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <source>记录</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>K (mV/天)</source>
        <translation>K (mV/day)</translation>
    </message>
</context>
<context>
    <name>station::StationDock</name>
    <message>
        <source>工位</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>扫描或输入电池编号，回车确认</source>
        <translation>Scan or type the cell ID, then Enter</translation>
    </message>
    <message>
        <source>电池编号：</source>
        <translation>Cell ID:</translation>
    </message>
    <message>
        <source>限值组：</source>
        <translation>Limit set:</translation>
    </message>
    <message>
        <source>记录 (F9)</source>
        <translation>Record (F9)</translation>
    </message>
    <message>
        <source>作废上一条</source>
        <translation>Void last</translation>
    </message>
    <message>
        <source>新批次…</source>
        <translation>New lot…</translation>
    </message>
    <message>
        <source>R (mΩ)</source>
        <translation>R (mΩ)</translation>
    </message>
    <message>
        <source>数量</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>等级</source>
        <translation>Grade</translation>
    </message>
    <message>
        <source>记录当前读数</source>
        <translation>Record the current reading</translation>
    </message>
    <message>
        <source>作废上一条记录</source>
        <translation>Void the last record</translation>
    </message>
    <message>
        <source>重新载入限值组</source>
        <translation>Reload limit sets</translation>
    </message>
    <message>
        <source>编辑限值组…</source>
        <translation>Edit limit set…</translation>
    </message>
    <message>
        <source>设置编辑密码…</source>
        <translation>Set edit password…</translation>
    </message>
    <message>
        <source>配组…</source>
        <translation>Pack matching…</translation>
    </message>
    <message>
        <source>未稳定：读数未稳定就抬起了探针，没有记录</source>
        <translation>Unsettled: the probes were lifted before the reading settled; nothing recorded</translation>
    </message>
    <message>
        <source>下一个记录的编号：%1</source>
        <translation>Next record ID: %1</translation>
    </message>
    <message>
        <source>记录 %1 已作废</source>
        <translation>Record %1 voided</translation>
    </message>
    <message>
        <source>已记录 %1%2</source>
        <translation>Recorded %1%2</translation>
    </message>
    <message>
        <source>新批次</source>
        <translation>New lot</translation>
    </message>
    <message>
        <source>批次名称：</source>
        <translation>Lot name:</translation>
    </message>
    <message>
        <source>限值组文件有误：%1</source>
        <translation>The limit-set file has errors: %1</translation>
    </message>
    <message>
        <source>限值组已加锁，但 %1 对当前用户可写：锁只防误改，请让管理员拥有该文件、操作员只读</source>
        <translation>The limit sets are locked, but the current user can write %1: the lock only prevents slips; let an administrator own the file and operators only read it</translation>
    </message>
    <message>
        <source>限值组已锁定</source>
        <translation>Limit sets locked</translation>
    </message>
    <message>
        <source>编辑密码：
（锁只防止在工位上误改；保护限值组文件的是文件权限：由管理员所有，操作员只读）</source>
        <translation>Edit password:
(the lock only prevents slips at the station; the file&apos;s permissions protect it: owned by an administrator, read-only for operators)</translation>
    </message>
    <message>
        <source>密码不对，限值组未改动</source>
        <translation>Wrong password; the limit set is unchanged</translation>
    </message>
    <message>
        <source>编辑限值组</source>
        <translation>Edit limit set</translation>
    </message>
    <message>
        <source>名称：</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>R 下限 (mΩ)：</source>
        <translation>R low (mΩ):</translation>
    </message>
    <message>
        <source>R 上限 (mΩ)：</source>
        <translation>R high (mΩ):</translation>
    </message>
    <message>
        <source>V 下限 (V)：</source>
        <translation>V low (V):</translation>
    </message>
    <message>
        <source>V 上限 (V)：</source>
        <translation>V high (V):</translation>
    </message>
    <message>
        <source>限值组未能保存：%1</source>
        <translation>The limit set could not be saved: %1</translation>
    </message>
    <message>
        <source>设置编辑密码</source>
        <translation>Set edit password</translation>
    </message>
    <message>
        <source>新密码（留空则不锁定）：
（锁只防止在工位上误改；要防止改动，请让管理员拥有 limitsets.json，操作员只读）</source>
        <translation>New password (empty: no lock):
(the lock only prevents slips at the station; to prevent changes, let an administrator own limitsets.json and operators only read it)</translation>
    </message>
    <message>
        <source>知道了 (F10)</source>
        <translation>Acknowledge (F10)</translation>
    </message>
    <message>
        <source>中心 %1，控制限 %2–%3</source>
        <translation>centre %1, control limits %2–%3</translation>
    </message>
    <message>
        <source>%1 规则 %2：%3</source>
        <translation>%1 rule %2: %3</translation>
    </message>
    <message>
        <source>过程异常信号（记录 %1）：%2</source>
        <translation>Out-of-control signal (record %1): %2</translation>
    </message>
    <message>
        <source>已确认 %1 条过程异常信号</source>
        <translation>%1 out-of-control signals acknowledged</translation>
    </message>
    <message>
        <source>已作废</source>
        <translation>Voided</translation>
    </message>
    <message>
        <source>请先开始批次：点“新批次…”，输入批次名称</source>
        <translation>Start a lot first: click “New lot…” and enter its name</translation>
    </message>
    <message>
        <source>先扫码</source>
        <translation>Scan first</translation>
    </message>
    <message>
        <source>本批次没有可作废的记录</source>
        <translation>This lot has no record to void</translation>
    </message>
    <message>
        <source>作废 记录 %1?</source>
        <translation>Void record %1?</translation>
    </message>
    <message>
        <source>作废 记录 %1 (%2)?</source>
        <translation>Void record %1 (%2)?</translation>
    </message>
    <message>
        <source>作废记录</source>
        <translation>Void record</translation>
    </message>
    <message>
        <source>编号重复</source>
        <translation>ID already recorded</translation>
    </message>
    <message>
        <source>电池 %1 在本批次已有记录 %2。重测将作废之前的记录。</source>
        <translation>Cell %1 already has record %2 in this lot. Re-measuring voids the earlier record.</translation>
    </message>
    <message>
        <source>重测</source>
        <translation>Re-measure</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>编号 %1 未采用</source>
        <translation>ID %1 not taken</translation>
    </message>
    <message>
        <source>控制图：本批次再记录 %1 个合格电池后确定控制限（共 %2 个），之后逐个判异</source>
        <translation>Control chart: the limits are set after %1 more PASS cells of this lot (%2 in all); then each cell is checked</translation>
    </message>
    <message>
        <source>控制图（前 %1 个合格电池定限）：R %2；V %3</source>
        <translation>Control chart (limits from the first %1 PASS cells): R %2; V %3</translation>
    </message>
    <message numerus="yes">
        <source>定限时剔除了 %n 个超出试算控制限的记录：%1</source>
        <translation>
            <numerusform>Set aside when fixing the limits, beyond the trial limits: %n record: %1</numerusform>
            <numerusform>Set aside when fixing the limits, beyond the trial limits: %n records: %1</numerusform>
        </translation>
    </message>
    <message>
        <source>本批次最近 %1 个记录</source>
        <translation>The lot&apos;s last %1 records</translation>
    </message>
    <message>
        <source>导出…</source>
        <translation>Export…</translation>
    </message>
    <message>
        <source>导出本批次的记录</source>
        <translation>Export the lot&apos;s records</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>已导出到 %1</source>
        <translation>Exported to %1</translation>
    </message>
    <message numerus="yes">
        <source>%1
（另有 %n 条未确认）</source>
        <translation>
            <numerusform>%1
(%n more not acknowledged)</numerusform>
            <numerusform>%1
(%n more not acknowledged)</numerusform>
        </translation>
    </message>
    <message>
        <source>R 下限 (mΩ)</source>
        <translation>R low (mΩ)</translation>
    </message>
    <message>
        <source>R 上限 (mΩ)</source>
        <translation>R high (mΩ)</translation>
    </message>
    <message>
        <source>料框</source>
        <translation>Bin</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>添加等级</source>
        <translation>Add grade</translation>
    </message>
    <message>
        <source>删除所选等级</source>
        <translation>Remove the selected grade</translation>
    </message>
    <message>
        <source>等级（R 的区间，PASS 的电池按第一个包含它的等级分档）：</source>
        <translation>Grades (bands of R; a PASS cell goes to the first grade that holds it):</translation>
    </message>
    <message>
        <source>等级第 %1 行不完整或下限高于上限，未保存</source>
        <translation>Grade row %1 is incomplete or its low is above its high: not saved</translation>
    </message>
    <message>
        <source>工序：</source>
        <translation>Stage:</translation>
    </message>
    <message>
        <source>%1（K 由 %2 起算）</source>
        <translation>%1 (K from %2)</translation>
    </message>
    <message>
        <source>K %1 mV/天（静置 %2 天）</source>
        <translation>K %1 mV/day (rested %2 days)</translation>
    </message>
    <message>
        <source>无 %1 记录</source>
        <translation>No %1 record</translation>
    </message>
    <message>
        <source>静置 %1 天，不足 %2 天：无 K</source>
        <translation>rested %1 days, less than %2: no K</translation>
    </message>
    <message>
        <source>扫码 %1 已保留：问题关闭后用作下一个电池编号</source>
        <translation>Scan %1 kept: it is the next cell&apos;s ID once the question closes</translation>
    </message>
    <message>
        <source>R 超出限值：%1 个记录（直方图两端红色）</source>
        <translation>R beyond the limits: %1 (red at the histogram&apos;s ends)</translation>
    </message>
    <message>
        <source>批次 %1&#x3000;限值组 %2
n = %3&#x3000;PASS %4&#x3000;NG %5&#x3000;良率 %6
等级 %7
R (mΩ)：均值 %8&#x3000;σ %9&#x3000;最小 %10&#x3000;最大 %11&#x3000;Pp %12&#x3000;Ppk %13
V：均值 %14&#x3000;σ %15&#x3000;最小 %16&#x3000;最大 %17&#x3000;Pp %18&#x3000;Ppk %19</source>
        <translation>Lot %1   limit set %2
n = %3   PASS %4   NG %5   yield %6
grades %7
R (mΩ): mean %8   σ %9   min %10   max %11   Pp %12   Ppk %13
V: mean %14   σ %15   min %16   max %17   Pp %18   Ppk %19</translation>
    </message>
</context>
<context>
    <name>station::StationVerdict</name>
    <message>
        <source>内阻超限</source>
        <translation>R out of limits</translation>
    </message>
    <message>
        <source>电压超限</source>
        <translation>V out of limits</translation>
    </message>
    <message>
        <source>K 值超限</source>
        <translation>K out of limits</translation>
    </message>
    <message>
        <source>无 %1 记录</source>
        <translation>No %1 record</translation>
    </message>
    <message>
        <source>静置不足 %1 天</source>
        <translation>Rested less than %1 days</translation>
    </message>
</context>
</TS>
