# PowerShell tab completion for the ZR90 service tools: zr90, parmpeek and parmpoke.
# For this session:    zr90 completion powershell | Out-String | Invoke-Expression
# For every session:   zr90 completion powershell > "$HOME\zr90-completion.ps1", then add
#                      . "$HOME\zr90-completion.ps1"  to the file $PROFILE names.

# BEGIN PARAMETER NAMES
$script:Zr90ParameterNames = -split @'
  null dummy dummyhi pidena drivemode pwm phasek phasea kqp kqi kqil kdp kdi
  kdil iu ib iv ic iw ia busv rawtemperature temperature gain angle pwmres
  pwmfactor pwmlimit halfpwm upwm vpwm wpwm deadzone ialpha ibeta id iq vu vv
  vw ilimitmul fault clearfault oldclearfault faultmask startupstatus
  watchdogtime watchdogtimer qsetpoint dsetpoint busundervmin busundervmax
  busoverv brakeonv brakeoffv status cputype controltype swrevision sysclk
  bigcookie biggercookie hwrevision faulttimer trapaddress trapnumber
  trapcount trapstatus trapacc zero false one true minusone delayreg invtable
  valpha vbeta vd vq sinetable refsine refcosine iuoffset iwoffset bnderr
  mindspicpwm maxdspicpwm qset dset qintegral qintegralovf dintegral
  dintegralovf diqdt diddt bootstraptimer pwmrequest oldwatchdogtime oldiq
  oldid parktemp operand hibit refangle tempilimit tempislope maxmodulei
  maxcurrent deratei iloop capture captureflag oldcapture capturecounter
  pwmtemp propband bootstrapvalue boottimermul pidon integbound
  tlimitsetpointi test0 test1 test2 test3 test4 test5 test6 test7 test8 test9
  test10 test11 test12 logaincounter uvwfaultcounter NUcycleskips currentlimit
  pidenastate unitnumber blinktimer blink lastinclude nvmaxmodulei
  nvmaxcurrent nvbaudrate nvrembaudrate nvcrcenable nvkqp nvkqi nvkqilo
  nvkqihi nvkqil nvkdp nvkdi nvkdilo nvkdihi nvkdil nvqsetpoint nvdsetpoint
  nvdeadzone nvfaultmask nvbusundervmin nvbusundervmax nvbusoverv nvbrakeonv
  nvbrakeoffv nvpwmrate nvtempilimit nvtempislope nvintegbound nvcurrentlimit
  nvcookie nvinvalid nvFBS nvFGS nvFPOR
'@
# END PARAMETER NAMES

$script:Zr90Commands = 'list', 'get', 'set', 'watch', 'console', 'plot', 'faults', 'save', 'diff', 'restore',
  'links', 'scan', 'info', 'completion', 'help'
$script:Zr90Options = '-a', '--axis', '--interface', '--protocol', '--port', '--baud', '--baud-mul', '--ip',
  '--trace', '--link', '--links-file', '--json', '--csv', '--value', '--hex', '-q', '--quiet', '-v', '--verbose',
  '-h', '--help', '-V', '--version'
$script:Zr90CommandOptions = @{
  'set'     = '-y', '--yes', '--no-verify'
  'watch'   = '--interval', '--count', '--plot', '--svg', '--timestamps'
  'console' = '--interval', '--plot'
  'plot'    = '-o', '--output'
  'save'    = @('--ram')
  'restore' = '--from', '--dry-run', '--no-backup', '-y', '--yes'
  'scan'    = @('--save')
}
# Options whose value is typed freely: nothing to offer.
$script:Zr90FreeValues = '--port', '--baud', '--baud-mul', '--ip', '--interval', '--count', '--save'

function script:Zr90Offer([string[]] $Candidates, [string] $Word) {
  foreach ($candidate in $Candidates) {
    if ($candidate -like "$Word*") {
      [System.Management.Automation.CompletionResult]::new($candidate, $candidate, 'ParameterValue', $candidate)
    }
  }
}

# Names match in any letter case, as the tools match them (-like does).
function script:Zr90OfferNames([string] $Word, [string] $Suffix = '') {
  if ($Word.Contains('+')) { return }
  foreach ($name in $script:Zr90ParameterNames) {
    if ($name -like "$Word*") {
      [System.Management.Automation.CompletionResult]::new("$name$Suffix", $name, 'ParameterValue', $name)
    }
  }
}

function script:Zr90OfferFiles([string] $Word) {
  [System.Management.Automation.CompletionCompleters]::CompleteFilename($Word)
}

# The words before the one being completed, the program's name first.
function script:Zr90WordsBefore($CommandAst, [string] $Word, [int] $Cursor) {
  @($CommandAst.CommandElements | Where-Object {
      $_.Extent.EndOffset -lt $Cursor -or ($Word -eq '' -and $_.Extent.EndOffset -le $Cursor)
    } | ForEach-Object { $_.Extent.Text })
}

Register-ArgumentCompleter -Native -CommandName zr90, zr90.exe -ScriptBlock {
  param($wordToComplete, $commandAst, $cursorPosition)
  $before = Zr90WordsBefore $commandAst $wordToComplete $cursorPosition
  $previous = $before[-1]
  $command = $before | Select-Object -Skip 1 | Where-Object { $script:Zr90Commands -contains $_ } | Select-Object -First 1
  switch -Exact ($previous) {
    '--interface' { return Zr90Offer @('OSDEVICE', 'EZAL16', 'OSZAL') $wordToComplete }
    '--protocol' { return Zr90Offer @('HEX', 'ZAL', 'SSZAL', 'DIRECT') $wordToComplete }
    { $_ -in '-a', '--axis' } { return Zr90Offer @('0', '1', '2', '3', '4', '5', '6', '7', 'all', '0-3', '0-7') $wordToComplete }
    '--from' { return Zr90Offer @('0', '1', '2', '3', '4', '5', '6', '7') $wordToComplete }
    { $_ -in '--trace', '--links-file', '--svg', '-o', '--output' } { return Zr90OfferFiles $wordToComplete }
    '--link' {
      $names = @(& $before[0] links 2>$null | ForEach-Object { ($_ -split '\s+')[0] })
      return Zr90Offer $names $wordToComplete
    }
    { $script:Zr90FreeValues -contains $_ } { return }
  }
  if ($wordToComplete.StartsWith('-')) {
    $options = $script:Zr90Options
    if ($command -and $script:Zr90CommandOptions.ContainsKey($command)) { $options += $script:Zr90CommandOptions[$command] }
    return Zr90Offer $options $wordToComplete
  }
  switch ($command) {
    $null { Zr90Offer $script:Zr90Commands $wordToComplete }
    'help' { Zr90Offer $script:Zr90Commands $wordToComplete }
    { $_ -in 'get', 'watch', 'console', 'list' } { Zr90OfferNames $wordToComplete }
    'set' { Zr90OfferNames $wordToComplete '=' }
    { $_ -in 'save', 'diff', 'restore', 'plot' } { Zr90OfferFiles $wordToComplete }
    'completion' { Zr90Offer @('bash', 'powershell') $wordToComplete }
  }
}

# parmpeek parm [axis] [q] [h] [r] [a]
# parmpoke parm data [axis] [q] [h] [r]
Register-ArgumentCompleter -Native -CommandName parmpeek, parmpeek.exe, parmpoke, parmpoke.exe -ScriptBlock {
  param($wordToComplete, $commandAst, $cursorPosition)
  $before = Zr90WordsBefore $commandAst $wordToComplete $cursorPosition
  $position = $before.Count
  $poke = $before[0] -like '*parmpoke*'
  $axisAt = if ($poke) { 3 } else { 2 }
  $flags = if ($poke) { @('h', 'r', 'q') } else { @('h', 'r', 'a', 'q') }
  if ($position -eq 1) {
    if ($wordToComplete.StartsWith('-')) { return Zr90Offer @('-h', '--help', '-V', '--version') $wordToComplete }
    return Zr90OfferNames $wordToComplete
  }
  if ($position -lt $axisAt -or $position -gt 5) { return }
  if ($position -eq $axisAt) { return Zr90Offer (@('0', '1', '2', '3', '4', '5', '6', '7') + $flags) $wordToComplete }
  Zr90Offer $flags $wordToComplete
}
