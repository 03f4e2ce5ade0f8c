REM blink demo
DEFINE LEDS = 5
DEFINE pause = 100

10
  FOR I = 1 TO LEDS   ' each led
    PRINT "Led: "; I
    DELAY pause
  NEXT I
  GOTO 10
