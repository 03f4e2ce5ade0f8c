REM Sensor logger: samples a sensor and reports readings above a limit.
' The sensor sits on ADC channel 3; PERIOD is in milliseconds.

DEFINE sensor = ADC3
DEFINE Period = 500		' ms between samples
DEFINE LIMIT = 900
DEFINE Samples = 100
DEFINE MainLoop = 1000
DEFINE Alarm = 2000

10
	n = 0
	alarms = 0
	PRINT "Logging "; SAMPLES; " samples, every "; period; " ms"

MainLoop
	v = READ(SENSOR)
	n = n + 1
	IF v > Limit THEN GOSUB Alarm
	DELAY PERIOD
	IF n < samples THEN GOTO MAINLOOP
	PRINT "Done: "; n; " samples, "; alarms; " alarms"
	END

Alarm	' log one reading
	alarms = alarms + 1
	PRINT "ALARM at t="; n * Period; " ms: value "; v; " > "; LIMIT
	RETURN
