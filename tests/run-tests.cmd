@echo off
rem Runs every test program beside it natively, elevated, each writing
rem reports\<program>.xml and .txt, and ends with "N passed, M failed" over all
rem test cases (docs/testing.md). GTEST_FILTER, GTEST_TOTAL_SHARDS and
rem GTEST_SHARD_INDEX in the environment reach every program.
setlocal EnableDelayedExpansion
rem The elevated cases must not stop at a prompt. Not elevated, both checks
rem are refused; "net session" needs the Server service, fltmc does not.
net session >nul 2>&1
if errorlevel 1 fltmc >nul 2>&1
if errorlevel 1 (echo run-tests.cmd must run from an elevated prompt ^(Run as administrator^).& exit /b 2)
cd /d "%~dp0"
if exist reports rd /s /q reports
md reports
set /a passed=0, failed=0
for %%p in (*_tests.exe) do call :run %%~np
echo !passed! passed, !failed! failed
if !failed! neq 0 exit /b 1
exit /b 0

:run
echo Running %1
set /a programPassed=0, programFailed=-1
".\%1.exe" --gtest_color=no --gtest_output=xml:reports\%1.xml >reports\%1.txt 2>&1
set code=%errorlevel%
rem A program that did not start (cmd says 9009) starts once more: under Wine
rem a process start fails now and then. A second such failure counts.
if %code% equ 9009 (
  echo %1: not started, started once more
  ".\%1.exe" --gtest_color=no --gtest_output=xml:reports\%1.xml >reports\%1.txt 2>&1
  set code=!errorlevel!
)
type reports\%1.txt
rem The summary: "[  PASSED  ] N tests." and, when some failed, "[  FAILED  ] N tests, listed below:".
for /f "usebackq tokens=1-5" %%a in ("reports\%1.txt") do (
  if "%%a %%b %%c"=="[ PASSED ]" set /a programPassed=%%d, programFailed=0
  if "%%a %%b %%c %%e"=="[ FAILED ] tests," set /a programFailed=%%d
  if "%%a %%b %%c %%e"=="[ FAILED ] test," set /a programFailed=%%d
)
if not exist reports\%1.xml set /a programFailed=-1
if %code% neq 0 if !programFailed! equ 0 set /a programFailed=-1
if !programFailed! equ -1 (
  echo %1 ended with code %code% without its report or summary: counted as one failed test.
  set /a programFailed=1
)
echo %1: !programPassed! passed, !programFailed! failed
set /a passed+=programPassed, failed+=programFailed
exit /b 0
